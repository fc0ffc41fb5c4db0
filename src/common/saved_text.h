// What the files the tool saves are made of: lines of fields, numbers with a point whatever
// the locale, and the time of day as local time with milliseconds, "YYYY-MM-DD
// HH:MM:SS.mmm", readable by a person and by a script.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The fields of a line between separators; a line that ends with one ends with an empty
// field.
std::vector<std::string> SplitFields(const std::string& line, char separator);

// A field of a CSV line: as it is, or in double quotes (doubled inside) where it holds a comma,
// a quote or a line break.
std::string CsvField(std::string_view text);

// A number with a point and no locale: `decimals` places, or with -1 the fewest digits that
// read back exactly.
std::string NumberText(double value, int decimals = -1);
// What NumberText wrote; NaN for a text that is not a number.
double ParseNumber(std::string_view text);

// Bytes as two upper-case hex digits each, separated by single spaces ("01 11 C0 2C").
std::string HexText(std::span<const uint8_t> bytes);
// Bytes as lower-case hex digits without separators ("0111c02c").
std::string CompactHex(std::span<const uint8_t> bytes);
// What HexText wrote (either case of digits); none for any other text.
std::optional<std::vector<uint8_t>> ParseHexText(std::string_view text);

// Milliseconds since the epoch of the system clock.
int64_t WallNowMs();

std::string WallTimeText(int64_t msSinceEpoch);
// What WallTimeText wrote, back in milliseconds since the epoch; none for any other text.
std::optional<int64_t> ParseWallTime(std::string_view text);
