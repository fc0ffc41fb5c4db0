// The service journal's costs: one entry appended (what a write pays before and after its
// exchanges), the check of a long journal, and the device report's PDF.
//   vek-bench-journal [--quick]
#include <QGuiApplication>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "device/Obrnastr.h"
#include "device/service_journal.h"
#include "perf_table.h"
#include "ui/device_report.h"

namespace {

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The intent of a write that changes a setpoint and a contact: a typical entry.
JournalEntry TypicalIntent() {
    JournalEntry e;
    e.event = "intent";
    e.action = "запись";
    e.port = "/dev/ttyUSB0";
    e.baud = 9600;
    e.address = 1;
    e.type = kTypeVek02;
    e.version = 1;
    e.changes = {{"Уставка 1, ед. кода", "13107", "9092", "setpoint_1_code"},
                 {"Уставка 1, %", "80", "55", "setpoint_1_percent"},
                 {"Тип контакта 1", "нр", "нз", "contact_type_1"}};
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int entries = quick ? 2000 : 10000;
    const int runs = quick ? 1 : 5;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const auto folder = std::filesystem::temp_directory_path() /
                        ("vek-bench-journal-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    ServiceJournal journal(folder.string(), "window");

    std::vector<double> appendMs;
    const JournalEntry intent = TypicalIntent();
    for (int i = 0; i < entries; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (journal.Append(intent) == 0) {
            std::fprintf(stderr, "vek-bench-journal: %s\n", journal.LastError().c_str());
            return 1;
        }
        appendMs.push_back(MsSince(start));
    }
    const perf::Summary append = perf::Summarize(appendMs);
    perf::Row("journal: one entry appended (of " + std::to_string(entries) + ")",
              perf::Figure(append, 3, "ms"), "goal 1 ms", perf::Ratio(append.median / 1.0),
              perf::Verdict(true, append.median <= 1.0));

    std::vector<double> checkMs;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const JournalCheck check = CheckJournal(journal.Path());
        checkMs.push_back(MsSince(start));
        if (!check.Whole() || check.lines != entries) return 1;
    }
    const perf::Summary checked = perf::Summarize(checkMs);
    const double goalMs = 1000.0 * entries / 10000;
    perf::Row("journal: check of " + std::to_string(entries) + " entries",
              perf::Figure(checked, 1, "ms"), "goal " + perf::Number(goalMs, 0) + " ms",
              perf::Ratio(checked.median / goalMs), perf::Verdict(true, checked.median <= goalMs));

    // The report of a device with a journal of that length (its entries are all device 1's).
    TProgVEKClass record;
    record.TypeCode = kTypeVek02;
    record.Version = 1;
    record.DeviceBlock.assign(24, 0);
    const JournalCheck check = CheckJournal(journal.Path());
    std::vector<JournalEntry> few(check.entries.end() - 20, check.entries.end());
    std::vector<double> reportMs;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        JournalCheck recent;
        recent.entries = few;
        const QString html = DeviceReportHtml(record, "/dev/ttyUSB0", 9600, recent);
        const auto error =
            WriteDeviceReport(QString::fromStdString((folder / "report.pdf").string()), html);
        reportMs.push_back(MsSince(start));
        if (error) {
            std::fprintf(stderr, "vek-bench-journal: %s\n", error->c_str());
            return 1;
        }
    }
    perf::Row("report: device report PDF with 20 journal entries",
              perf::Figure(perf::Summarize(reportMs), 1, "ms"), "-", "-", "");
    std::filesystem::remove_all(folder);
    return 0;
}
