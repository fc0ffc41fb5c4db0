// The report of a device for handing over: its identity, where and when it was read, every
// setting as the device holds it (scale-end codes and trims among them), the present
// measurements, the changes the service journal holds for it with their before and after, and
// room for names and signatures. An A4 PDF.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "device/service_journal.h"

class TProgVEKClass;

// The report's text (HTML for a QTextDocument) of the device the record has read on the named
// port, with this device's changes from the journal and the journal's check.
QString DeviceReportHtml(const TProgVEKClass& record, const std::string& port, int32_t baud,
                         const JournalCheck& journal);

// Writes the report as a PDF, whole or not at all: on failure, the message.
std::optional<std::string> WriteDeviceReport(const QString& path, const QString& html);
