// What the command-line tool prints of a device: a table in the tool's language for a person,
// or JSON with English keys for a script (docs/vek-cli.schema.json describes every document),
// and a line per read for watch (CSV or JSON lines).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "device/Obrnastr.h"
#include "device/config_file.h"

using Json = nlohmann::ordered_json;

// The device that the record has read: identity, block, every field decoded, measurements.
Json ReadJson(const TProgVEKClass& record, const std::string& port);
std::string ReadTable(const TProgVEKClass& record, const std::string& port, int32_t baud);

// One read of watch.
Json WatchJson(const TProgVEKClass& record, const std::string& time);
std::string WatchCsvHeading();
std::string WatchCsv(const TProgVEKClass& record, const std::string& time);

// Changes between two blocks, as JSON objects {field, label, from, to}.
Json ChangesJson(const std::vector<FieldDifference>& differences, const char* from, const char* to);
// Changes as indented lines "label: from → to".
std::string ChangesTable(const std::vector<FieldDifference>& differences);

// Rows of text in columns, each column as wide as its widest cell (in characters).
std::string Columns(const std::vector<std::vector<std::string>>& rows);
