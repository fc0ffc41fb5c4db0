// vek-cli: the device operations of the service tool from a shell, for scripts and test
// benches. Data goes to standard output (a table, or JSON with --json), messages to standard
// error; the exit status says what kind of failure ended the run (ExitStatus).
#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <thread>

#include "cli/cli_output.h"
#include "cli/cli_session.h"
#include "cli/device_settings.h"
#include "common/operator_message.h"
#include "common/saved_text.h"
#include "device/service_journal.h"
#include "link/port_list.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {

void Say(std::string text) {
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty()) std::cerr << "vek-cli: " << text << '\n';
}

void Print(const Json& document, int indent = 2) {
    std::cout << document.dump(indent, ' ', false, Json::error_handler_t::replace) << '\n'
              << std::flush;
}

int Fail(const Outcome& outcome) {
    Say(outcome.message);
    return outcome.status;
}

struct Options {
    LineOptions line;
    std::string parity = "none";
    bool json = false;
    bool yes = false;
    int32_t address = 0;
    int32_t newAddress = 0;
    int32_t maxAddress = 32;
    bool fast = false;
    int32_t firstByteWaitMs = 0;
    int32_t intervalMs = 1000;
    int64_t count = 0;
    std::string file;
    bool withCalibration = false;
    bool takeNumber = false;
    std::vector<std::string> settings;
    bool csv = false;
    bool check = false;
};

// The listed changes go to the operator, who lets the write go ahead; --yes does so without
// a question, and without a terminal to ask on nothing is written.
WriteConfirmation Confirmation(const Options& o) {
    return [&o](const std::string& changes) {
        Say(changes);
        if (o.yes) return true;
        if (!isatty(0) || !isatty(2)) {
            Say("Нет терминала для подтверждения: укажите --yes");
            return false;
        }
        std::cerr << "Записать в прибор? [y/N] " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer)) return false;
        return answer == "y" || answer == "Y" || answer == "yes" || answer == "д" ||
               answer == "Д" || answer == "да";
    };
}

// The session of a command that works on a device: the port named and opened.
std::optional<Outcome> OpenLine(CliSession& session, const Options& o) {
    if (o.line.port.empty()) {
        return Outcome{kExitUsage, "Порт не указан: --port ПОРТ или переменная VEK_PORT"};
    }
    if (Outcome opened = session.Open(); !opened.Ok()) return opened;
    return std::nullopt;
}

int Ports(const Options& o) {
    Json ports = Json::array();
    std::vector<std::vector<std::string>> rows{{"Порт", "Описание"}};
    for (const std::string& name : SystemPortNames()) {
        const std::string description = PortDescription(name);
        ports.push_back({{"name", name}, {"description", description}});
        rows.push_back({name, description});
    }
    if (o.json) {
        Print({{"ports", ports}});
    } else {
        std::cout << Columns(rows);
    }
    return kExitOk;
}

int Scan(CliSession& session, const Options& o) {
    std::vector<FoundDevice> found;
    const int32_t wait = !o.fast                 ? 0
                         : o.firstByteWaitMs > 0 ? o.firstByteWaitMs
                                                 : FirstByteWaitFor(o.line.baud);
    const Outcome scanned = session.Scan(o.maxAddress, wait, found);
    // What was found is shown also when the scan was stopped.
    Json devices = Json::array();
    std::vector<std::vector<std::string>> rows{
        {"Адрес", "Прибор", "Тип", "Версия", "Ответ через, мс", ""}};
    for (const FoundDevice& f : found) {
        devices.push_back({{"address", f.address},
                           {"type", f.type},
                           {"model", ModelName(f.type)},
                           {"version", f.version},
                           {"reply_ms", ParseNumber(NumberText(f.replyMs, 1))},
                           {"late", f.late}});
        rows.push_back({std::to_string(f.address), ModelName(f.type), std::to_string(f.type),
                        std::to_string(f.version), NumberText(f.replyMs, 1),
                        f.late ? "ответил поздно" : ""});
    }
    if (o.json) {
        Print({{"devices", devices}});
    } else if (found.empty()) {
        Say("Устройств не найдено");
    } else {
        std::cout << Columns(rows);
    }
    return Fail(scanned);
}

int Read(CliSession& session, const Options& o) {
    if (Outcome read = session.Read(o.address); !read.Ok()) return Fail(read);
    if (o.json) {
        Print(ReadJson(session.Record(), session.Link().PortName));
    } else {
        std::cout << ReadTable(session.Record(), session.Link().PortName, o.line.baud);
    }
    return kExitOk;
}

// Waits until `until`, and returns false when interrupted first.
bool WaitUntil(std::chrono::steady_clock::time_point until) {
    while (!Interrupted()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(20)));
    }
    return false;
}

int Watch(CliSession& session, const Options& o) {
    if (!o.json) std::cout << WatchCsvHeading() << std::flush;
    auto next = std::chrono::steady_clock::now();
    for (int64_t done = 0; o.count == 0 || done < o.count; ++done) {
        if (done > 0 && !WaitUntil(next)) break;
        next += std::chrono::milliseconds(o.intervalMs);
        if (Outcome read = session.Read(o.address); !read.Ok()) return Fail(read);
        const std::string time = WallTimeText(WallNowMs());
        if (o.json) {
            Print(WatchJson(session.Record(), time), -1);
        } else {
            std::cout << WatchCsv(session.Record(), time) << std::flush;
        }
        if (!std::cout) break;  // the reader has gone
        if (Interrupted()) break;
    }
    return kExitOk;
}

int Save(CliSession& session, const Options& o) {
    if (Outcome read = session.Read(o.address); !read.Ok()) return Fail(read);
    const DeviceConfiguration c =
        ConfigurationOf(session.Record(), session.Link().PortName, o.line.baud);
    if (const auto error = SaveConfiguration(o.file, c)) return Fail({kExitRefusedFile, *error});
    if (o.json) Print({{"address", o.address}, {"file", o.file}});
    Say("Сохранено в " + o.file + ": " + session.DeviceText());
    return kExitOk;
}

std::optional<DeviceConfiguration> LoadFile(const Options& o) {
    ParsedConfiguration parsed = LoadConfiguration(o.file);
    if (!parsed.configuration) Say("Файл не принят:\n" + parsed.error);
    return std::move(parsed.configuration);
}

int Compare(CliSession& session, const Options& o, const DeviceConfiguration& file) {
    if (Outcome read = session.Read(o.address); !read.Ok()) return Fail(read);
    const std::vector<FieldDifference> differences =
        CompareBlocks(BlockOf(session.Record()), file.block);
    if (o.json) {
        Print({{"address", o.address},
               {"file", o.file},
               {"differences", ChangesJson(differences, "device", "file")}});
    } else if (differences.empty()) {
        Say("Прибор и файл не отличаются");
    } else {
        std::vector<std::vector<std::string>> rows{{"Поле", "Прибор", "Файл"}};
        for (const FieldDifference& d : differences)
            rows.push_back({d.label, d.first, d.second});
        std::cout << Columns(rows);
    }
    return differences.empty() ? kExitOk : kExitDifferences;
}

// The record's block, changed from the block read, goes to the device (the change named
// `action` in the journal); then what was written.
int WriteAndShow(CliSession& session, const Options& o, const std::string& action) {
    const std::vector<FieldDifference> changes =
        CompareBlocks(session.Record().DeviceBlock, BlockOf(session.Record()));
    if (changes.empty()) Say("Изменений нет, в прибор ничего не передано");
    Outcome written = session.WriteChanges(action, Confirmation(o));
    if (!session.JournalError().empty()) Say("Журнал работ не ведется: " + session.JournalError());
    if (!written.Ok()) return Fail(written);
    if (o.json) {
        Print({{"address", session.Record().DeviceNumber + 1},
               {"written", !changes.empty()},
               {"changes", ChangesJson(changes, "from", "to")}});
    } else if (!changes.empty()) {
        std::cout << "Записано, " << session.DeviceText() << " подтвердил:\n"
                  << ChangesTable(changes);
    }
    return kExitOk;
}

int Write(CliSession& session, const Options& o, const DeviceConfiguration& file) {
    if (Outcome read = session.Read(o.address); !read.Ok()) return Fail(read);
    TProgVEKClass& record = session.Record();
    if (file.type != record.TypeCode) {
        return Fail({kExitRefusedFile, OtherModelText(file.type, record.TypeCode)});
    }
    if (file.version != record.Version) {
        Say("Версия прибора в файле " + std::to_string(file.version) + ", у прибора " +
            std::to_string(record.Version));
    }
    record.SetBlock(
        BlockFromFile(record.DeviceBlock, file.block, {o.withCalibration, o.takeNumber}));
    return WriteAndShow(session, o, o.takeNumber ? "замена прибора" : "запись из файла");
}

int Set(CliSession& session, const Options& o) {
    if (Outcome read = session.Read(o.address); !read.Ok()) return Fail(read);
    if (std::string refused = ApplySettings(session.Record(), o.settings); !refused.empty()) {
        return Fail({kExitRefusedWrite, refused + "\nВ прибор ничего не передано"});
    }
    return WriteAndShow(session, o, "запись");
}

int Renumber(CliSession& session, const Options& o) {
    if (Outcome read = session.Read(o.address); !read.Ok()) return Fail(read);
    session.Record().SetDeviceNumberByte(o.newAddress - 1);
    return WriteAndShow(session, o, "смена номера");
}

// The service journal: listed (a table, JSON or CSV, of one device or all) or only checked.
// A journal that fails its check ends the run with its own status, after what it holds.
int Journal(const Options& o) {
    const std::string path = ServiceJournal::PathIn(ServiceJournal::DefaultFolder());
    const JournalCheck check = CheckJournal(path);
    std::vector<JournalEntry> entries;
    for (const JournalEntry& e : check.entries) {
        if (o.address == 0 || e.address == o.address) entries.push_back(e);
    }
    const Json verdict = {{"path", path},
                          {"whole", check.Whole()},
                          {"entries", check.lines},
                          {"first_untrusted", check.Whole() ? Json() : Json(check.firstUntrusted)},
                          {"reason", check.reason}};
    if (o.check) {
        if (o.json) {
            Print(verdict);
        } else {
            std::cout << JournalCheckText(check) << '\n';
        }
    } else if (o.json) {
        Json listed = Json::array();
        for (const JournalEntry& e : entries)
            listed.push_back(JournalEntryJson(e));
        Print({{"check", verdict}, {"entries", listed}});
    } else if (o.csv) {
        std::cout << "entry,time,event,action,address,model,type,version,port,baud,user,"
                     "computer,front_end,tool_version,changes,intent,verdict,result,text\n";
        for (const JournalEntry& e : entries) {
            const bool intent = e.event == "intent";
            std::cout << e.entry << ',' << e.time << ',' << e.event << ',' << CsvField(e.action)
                      << ',' << e.address << ',' << ModelName(e.type) << ',' << e.type << ','
                      << e.version << ',' << CsvField(e.port) << ',' << e.baud << ','
                      << CsvField(e.user) << ',' << CsvField(e.computer) << ',' << e.frontEnd << ','
                      << CsvField(e.toolVersion) << ','
                      << CsvField(DifferencesText(e.changes, "; ")) << ','
                      << (intent ? "" : std::to_string(e.intent)) << ',' << e.verdict << ','
                      << (intent ? "" : std::to_string(e.result)) << ',' << CsvField(e.text)
                      << '\n';
        }
    } else {
        std::vector<std::vector<std::string>> rows{
            {"Запись", "Время", "Устройство", "Действие", "Изменения", "Итог", "Кто"}};
        for (const ChangeAttempt& a : ChangeAttempts(entries)) {
            const JournalEntry& e = a.intent;
            rows.push_back({std::to_string(e.entry), e.time, JournalDeviceText(e), e.action,
                            DifferencesText(e.changes, "; "), a.OutcomeText(),
                            e.user + "@" + e.computer + " (" + e.frontEnd + ")"});
        }
        std::cout << Columns(rows);
    }
    if (check.Whole()) return kExitOk;
    if (!o.check) Say(JournalCheckText(check));
    return kExitJournalUntrusted;
}

}  // namespace

int main(int argc, char** argv) {
    CatchInterrupts();
    // The link's own messages (a port that cannot be opened) are the run's messages.
    SetMessageResponder([](const OperatorMessage& m) {
        Say(m.text);
        return m.defaultButton;
    });

    Options o;
    CLI::App app{
        "vek-cli: reads, watches, saves and configures ВЭК-01МЕ / ВЭК-02МЕ pressure "
        "transducers on an RS-485 line.\nExit status: 0 success, 1 compare found "
        "differences, 2 usage, 3 port, 4 no reply, 5 damaged reply,\n6 device "
        "exception, 7 refused file, 8 refused write, 9 verification mismatch,\n10 not "
        "a ВЭК-01МЕ or ВЭК-02МЕ, 11 journal fails its check, 130 interrupted.",
        "vek-cli"};
    app.set_version_flag("--version", std::string("vek-cli ") + VEK_VERSION);
    app.require_subcommand(1, 1);
    app.fallthrough();  // the line options may follow the command too
    app.option_defaults()->always_capture_default();

    app.add_option("-p,--port", o.line.port, "serial port (or the VEK_PORT variable)")
        ->envname("VEK_PORT");
    app.add_option("--baud", o.line.baud, "line speed, bit/s")->check(CLI::IsMember(LineSpeeds()));
    app.add_option("--parity", o.parity, "parity")->check(CLI::IsMember({"none", "even", "odd"}));
    app.add_option("--stop-bits", o.line.stopBits, "stop bits")->check(CLI::IsMember({1, 2}));
    app.add_option("--attempts", o.line.headerAttempts, "attempts for a reply's header")
        ->check(CLI::Range(1, 100));
    app.add_option("--body-attempts", o.line.bodyAttempts, "attempts for a reply's body")
        ->check(CLI::Range(1, 100));
    app.add_option("--send-delay", o.line.sendDelayMs, "pause before each request, ms")
        ->check(CLI::Range(0, 10000));
    app.add_option("--byte-timeout", o.line.byteTimeoutMs,
                   "longest pause between the bytes of a reply, ms")
        ->check(CLI::Range(1, 60000));
    app.add_option("--reply-timeout", o.line.replyTimeoutMs,
                   "a reply's time-out beyond 100 ms a byte, ms")
        ->check(CLI::Range(1, 60000));
    app.add_flag("--json", o.json, "JSON on standard output");
    app.add_flag("-y,--yes", o.yes, "write without asking");

    auto address = [&](CLI::App* command, int32_t& into, const char* name, const char* what) {
        command->add_option(name, into, what)->required()->check(CLI::Range(1, 32));
    };
    auto file = [&](CLI::App* command) {
        command->add_option("FILE", o.file, "configuration file")->required();
    };
    CLI::App* ports = app.add_subcommand("ports", "the serial ports of this computer");
    CLI::App* scan = app.add_subcommand("scan", "the devices on the line");
    scan->add_option("--max", o.maxAddress, "highest address asked")->check(CLI::Range(1, 32));
    scan->add_flag("--fast", o.fast,
                   "short wait for a reply's first byte; late or garbled addresses are asked "
                   "again as specified");
    scan->add_option("--first-byte-wait", o.firstByteWaitMs,
                     "the fast scan's wait, ms (default: 50 ms and ten characters)")
        ->check(CLI::Range(10, 1000));
    CLI::App* read = app.add_subcommand("read", "device N: identity, settings, measurements");
    address(read, o.address, "N", "bus address, 1..32");
    CLI::App* watch = app.add_subcommand("watch", "reads of device N, one line each (CSV)");
    address(watch, o.address, "N", "bus address, 1..32");
    watch->add_option("--interval", o.intervalMs, "time between reads, ms")
        ->check(CLI::Range(0, 86'400'000));
    watch->add_option("--count", o.count, "number of reads (0: until interrupted)")
        ->check(CLI::Range(int64_t{0}, int64_t{1} << 40));
    CLI::App* save = app.add_subcommand("save", "device N's configuration to FILE");
    address(save, o.address, "N", "bus address, 1..32");
    file(save);
    CLI::App* compare = app.add_subcommand("compare", "device N against FILE (status 1: differ)");
    address(compare, o.address, "N", "bus address, 1..32");
    file(compare);
    CLI::App* write = app.add_subcommand("write", "FILE's settings to device N");
    address(write, o.address, "N", "bus address, 1..32");
    file(write);
    write->add_flag("--with-calibration", o.withCalibration,
                    "also the scale-end ADC codes and output trims (the same transducer)");
    write->add_flag("--take-number", o.takeNumber, "also the file's bus number (a replacement)");
    CLI::App* set = app.add_subcommand("set", "single settings of device N, then the write");
    address(set, o.address, "N", "bus address, 1..32");
    set->add_option("SETTING", o.settings, "NAME=VALUE")->required();
    set->footer(kSettingsHelp);
    CLI::App* renumber = app.add_subcommand("renumber", "device N takes bus number M");
    address(renumber, o.address, "N", "bus address, 1..32");
    address(renumber, o.newAddress, "M", "new bus address, 1..32");

    CLI::App* journal = app.add_subcommand(
        "journal", "the service journal of every change (VEK_DATA_DIR sets its folder)");
    journal->add_option("--device", o.address, "only device N's entries")->check(CLI::Range(1, 32));
    journal->add_flag("--csv", o.csv, "CSV for a spreadsheet, one line per entry");
    journal->add_flag("--check", o.check, "only check it (status 11: it cannot be trusted)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    o.line.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(o.parity[0])));

    if (ports->parsed()) return Ports(o);
    if (journal->parsed()) return Journal(o);
    if (set->parsed()) {
        if (std::string refused = CheckSettingNames(o.settings); !refused.empty()) {
            return Fail({kExitUsage, refused});
        }
    }
    // A file is checked whole before the line is touched.
    std::optional<DeviceConfiguration> configuration;
    if (compare->parsed() || write->parsed()) {
        configuration = LoadFile(o);
        if (!configuration) return kExitRefusedFile;
    }

    CliSession session(o.line);
    if (std::optional<Outcome> refused = OpenLine(session, o)) return Fail(*refused);
    if (scan->parsed()) return Scan(session, o);
    if (read->parsed()) return Read(session, o);
    if (watch->parsed()) return Watch(session, o);
    if (save->parsed()) return Save(session, o);
    if (compare->parsed()) return Compare(session, o, *configuration);
    if (write->parsed()) return Write(session, o, *configuration);
    if (set->parsed()) return Set(session, o);
    return Renumber(session, o);
}
