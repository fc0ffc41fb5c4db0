#include "device/service_journal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <system_error>

#include "common/saved_text.h"
#include "common/sha256.h"
#include "common/whole_file.h"
#include "device/Obrnastr.h"
#include "link/Comportclass.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>
#endif

using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kJournalName = "journal.jsonl";
// Beside the journal: the number and hash of its last line, so that lines cut off its end are
// missed.
constexpr const char* kEndName = "journal.end";
const std::string kNoHash(64, '0');
// The end of every line: ,"hash":"<64 hex digits>"}
constexpr std::string_view kHashKey = ",\"hash\":\"";
constexpr size_t kHashTail = kHashKey.size() + 64 + 2;
// The hash a whole line states at its end.
std::string StatedHash(std::string_view line) {
    return std::string(line.substr(line.size() - 66, 64));
}
// A line is a few kilobytes at most; the last one is looked for in this much of the file's end.
constexpr long kTailBytes = 64 * 1024;
constexpr size_t kLargestJournal = size_t{1} << 30;

#ifdef _WIN32
std::string Utf8(const wchar_t* text) {
    if (!text) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string utf8(static_cast<size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    return utf8;
}
std::string UserName() {
    return Utf8(_wgetenv(L"USERNAME"));
}
std::string ComputerName() {
    return Utf8(_wgetenv(L"COMPUTERNAME"));
}
#else
std::string UserName() {
    if (const passwd* user = getpwuid(geteuid())) return user->pw_name;
    const char* name = std::getenv("USER");
    return name ? name : "";
}
std::string ComputerName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "";
}
#endif

// Another program appending at the same time waits for this one's line and end.
bool LockFile(std::FILE* file) {
#ifdef _WIN32
    OVERLAPPED whole{};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))),
                      LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
#else
    return flock(fileno(file), LOCK_EX) == 0;
#endif
}

}  // namespace

Json JournalEntryJson(const JournalEntry& e) {
    Json j = {{"journal", kJournalFormatVersion},
              {"entry", e.entry},
              {"time", e.time},
              {"event", e.event},
              {"action", e.action},
              {"user", e.user},
              {"computer", e.computer},
              {"front_end", e.frontEnd},
              {"tool_version", e.toolVersion},
              {"port", e.port},
              {"baud", e.baud},
              {"address", e.address},
              {"type", e.type},
              {"model", ModelName(e.type)},
              {"version", e.version}};
    if (e.event == "intent") {
        Json changes = Json::array();
        for (const FieldDifference& c : e.changes) {
            changes.push_back(
                {{"field", c.key}, {"label", c.label}, {"from", c.first}, {"to", c.second}});
        }
        j["changes"] = std::move(changes);
    } else {
        j["intent"] = e.intent;
        j["verdict"] = e.verdict;
        if (e.result != 0) j["result"] = e.result;
        if (!e.text.empty()) j["text"] = e.text;
    }
    return j;
}

namespace {

// An entry of a line's JSON; none when a field is missing or of the wrong kind.
std::optional<JournalEntry> FromJson(const Json& j) {
    try {
        JournalEntry e;
        if (j.at("journal").get<int>() != kJournalFormatVersion) return std::nullopt;
        e.entry = j.at("entry").get<int64_t>();
        e.time = j.at("time").get<std::string>();
        e.event = j.at("event").get<std::string>();
        e.action = j.at("action").get<std::string>();
        e.user = j.at("user").get<std::string>();
        e.computer = j.at("computer").get<std::string>();
        e.frontEnd = j.at("front_end").get<std::string>();
        e.toolVersion = j.at("tool_version").get<std::string>();
        e.port = j.at("port").get<std::string>();
        e.baud = j.at("baud").get<int32_t>();
        e.address = j.at("address").get<int32_t>();
        e.type = j.at("type").get<int32_t>();
        e.version = j.at("version").get<int32_t>();
        if (e.event == "intent") {
            for (const Json& c : j.at("changes")) {
                e.changes.push_back({c.at("label").get<std::string>(),
                                     c.at("from").get<std::string>(), c.at("to").get<std::string>(),
                                     c.at("field").get<std::string>()});
            }
        } else if (e.event == "outcome") {
            e.intent = j.at("intent").get<int64_t>();
            e.verdict = j.at("verdict").get<std::string>();
            e.result = j.value("result", 0);
            e.text = j.value("text", std::string());
        } else {
            return std::nullopt;
        }
        return e;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

// A line: the entry's JSON with the previous line's hash, then its own hash.
std::string LineOf(const JournalEntry& entry, const std::string& previousHash) {
    Json j = JournalEntryJson(entry);
    j["prev"] = previousHash;
    std::string body = j.dump(-1, ' ', false, Json::error_handler_t::replace);
    const std::string hash = Sha256Hex(body);
    body.pop_back();
    return body + std::string(kHashKey) + hash + "\"}";
}

// A line's own hash as it states it, once its text is checked against it; none for a line
// that is not whole or whose text was changed.
struct CheckedLine {
    std::string hash;
    bool matches = false;
    std::optional<Json> json;
};
CheckedLine CheckLine(std::string_view line) {
    CheckedLine checked;
    if (line.size() < kHashTail + 2 || line.substr(line.size() - 2) != "\"}" ||
        line.substr(line.size() - kHashTail, kHashKey.size()) != kHashKey) {
        return checked;
    }
    checked.hash = StatedHash(line);
    std::string body(line.substr(0, line.size() - kHashTail));
    body += '}';
    checked.matches = Sha256Hex(body) == checked.hash;
    Json j = Json::parse(body, nullptr, false);
    if (!j.is_discarded() && j.is_object()) checked.json = std::move(j);
    return checked;
}

struct JournalEnd {
    int64_t entry = 0;
    std::string hash;
};
// The end file's text; an entry of -1 for one that is not an end.
JournalEnd ParseEnd(std::string_view text) {
    const Json j = Json::parse(text, nullptr, false);
    if (!j.is_object() || !j.contains("entry") || !j["entry"].is_number_integer() ||
        !j.contains("hash") || !j["hash"].is_string()) {
        return JournalEnd{-1, {}};
    }
    return JournalEnd{j["entry"].get<int64_t>(), j["hash"].get<std::string>()};
}

std::optional<std::string> ReadEndText(const std::string& folder) {
    return ReadWholeFile((std::filesystem::path(folder) / kEndName).string(), 4096);
}

// The number and hash that the next line follows, from the file's last line: the journal is
// not checked here (a damaged line stays as it is, and the new one follows it).
struct LastLine {
    int64_t entry = 0;
    std::string hash = kNoHash;
    bool endsLine = true;  // false: the file ends inside a line
};
LastLine ReadLastLine(std::FILE* file) {
    LastLine last;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    if (size <= 0) return last;
    const long from = size > kTailBytes ? size - kTailBytes : 0;
    std::string tail(static_cast<size_t>(size - from), '\0');
    std::fseek(file, from, SEEK_SET);
    tail.resize(std::fread(tail.data(), 1, tail.size(), file));
    last.endsLine = !tail.empty() && tail.back() == '\n';
    if (last.endsLine) tail.pop_back();
    const size_t start = tail.rfind('\n');
    const std::string_view line =
        std::string_view(tail).substr(start == std::string::npos ? 0 : start + 1);
    const CheckedLine checked = CheckLine(line);
    if (!checked.hash.empty() && checked.json && checked.json->contains("entry") &&
        (*checked.json)["entry"].is_number_integer() && (start != std::string::npos || from == 0)) {
        last.entry = (*checked.json)["entry"].get<int64_t>();
        last.hash = checked.hash;
        return last;
    }
    // A line that cannot be read: the next follows the count of lines and the damaged text.
    last.hash = Sha256Hex(line);
    std::fseek(file, 0, SEEK_SET);
    for (int c; (c = std::fgetc(file)) != EOF;)
        last.entry += c == '\n';
    if (!last.endsLine) ++last.entry;
    return last;
}

}  // namespace

std::vector<ChangeAttempt> ChangeAttempts(const std::vector<JournalEntry>& entries) {
    std::vector<ChangeAttempt> attempts;
    std::map<int64_t, size_t> byIntent;
    for (const JournalEntry& e : entries) {
        if (e.event == "intent") {
            byIntent[e.entry] = attempts.size();
            attempts.push_back({e, std::nullopt});
        } else if (auto found = byIntent.find(e.intent);
                   found != byIntent.end() && !attempts[found->second].outcome) {
            attempts[found->second].outcome = e;
        }
    }
    return attempts;
}

std::string ChangeAttempt::OutcomeText() const {
    if (!outcome) return VerdictText({});
    std::string text = VerdictText(outcome->verdict);
    if (!outcome->text.empty()) text += ": " + outcome->text;
    for (char& c : text) {
        if (c == '\n') c = ' ';
    }
    return text;
}

std::string JournalDeviceText(const JournalEntry& entry) {
    return "устройство " + std::to_string(entry.address) + " (" + ModelName(entry.type) + ")";
}

std::string VerdictText(const std::string& verdict) {
    if (verdict == kVerdictConfirmed) return "подтверждено прибором";
    if (verdict == kVerdictUnconfirmed) return "не подтверждено: прибор мог принять изменения";
    if (verdict == kVerdictFailed) return "не выполнено";
    if (verdict == kVerdictRefused) return "отменено до передачи";
    return "итог не записан";
}

ServiceJournal::ServiceJournal(std::string folder, std::string frontEnd)
    : folder_(std::move(folder)), path_(PathIn(folder_)), frontEnd_(std::move(frontEnd)) {}

std::string ServiceJournal::DefaultFolder() {
    if (const char* chosen = std::getenv("VEK_DATA_DIR"); chosen && *chosen) return chosen;
#ifdef _WIN32
    return (std::filesystem::path(Utf8(_wgetenv(L"APPDATA"))) / "vek-serv").string();
#else
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return (std::filesystem::path(data) / "vek-serv").string();
    }
    const char* home = std::getenv("HOME");
    return (std::filesystem::path(home ? home : "/tmp") / ".local/share/vek-serv").string();
#endif
}

std::string ServiceJournal::PathIn(const std::string& folder) {
    return (std::filesystem::path(folder) / kJournalName).string();
}

int64_t ServiceJournal::Append(JournalEntry entry) {
    lastError_.clear();
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    std::FILE* file = std::fopen(path_.c_str(), "a+b");
    if (!file) {
        lastError_ = "Не удалось открыть журнал " + path_;
        return 0;
    }
    const bool locked = LockFile(file);
    LastLine last = ReadLastLine(file);
    // Lines cut off the end, or a last line rewritten with its hash, stay visible after the
    // new line: it goes on from the end kept beside the journal.
    if (const std::optional<std::string> endText = ReadEndText(folder_)) {
        if (const JournalEnd end = ParseEnd(*endText); end.entry >= last.entry) {
            last.entry = end.entry;
            last.hash = end.hash;
        }
    }
    entry.entry = last.entry + 1;
    entry.time = WallTimeText(WallNowMs());
    entry.user = UserName();
    entry.computer = ComputerName();
    entry.frontEnd = frontEnd_;
    entry.toolVersion = VEK_VERSION;
    const std::string line = LineOf(entry, last.hash);
    // A line cut short by a crash stays as it is; the new one starts on a line of its own.
    const std::string text = (last.endsLine ? "" : "\n") + line + "\n";
    // A stream read from must be positioned before it is written to (Windows' C library holds
    // to that).
    std::fseek(file, 0, SEEK_END);
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    std::optional<std::string> endError;
    if (written) {
        const Json end = {{"entry", entry.entry}, {"hash", StatedHash(line)}};
        endError =
            WriteWholeFile((std::filesystem::path(folder_) / kEndName).string(), end.dump() + "\n");
    }
    std::fclose(file);  // and with it the lock
    if (!written || !locked) {
        lastError_ = "Не удалось записать в журнал " + path_;
        return 0;
    }
    if (endError) {
        lastError_ = *endError;
        return 0;
    }
    return entry.entry;
}

JournalledChange::JournalledChange(ServiceJournal* journal, const TComPortClass& link,
                                   const TProgVEKClass& record, std::string action,
                                   std::vector<FieldDifference> changes)
    : journal_(journal) {
    if (!journal_) return;
    entry_.event = "intent";
    entry_.action = std::move(action);
    entry_.port = link.PortName;
    entry_.baud = link.Baud();
    entry_.address = record.DeviceNumber + 1;
    entry_.type = record.TypeCode;
    entry_.version = record.Version;
    entry_.changes = std::move(changes);
    entry_.intent = journal_->Append(entry_);
}

void JournalledChange::Outcome(const char* verdict, int32_t result, std::string text) {
    if (!journal_) return;
    entry_.event = "outcome";
    entry_.changes.clear();
    entry_.verdict = verdict;
    entry_.result = result;
    entry_.text = std::move(text);
    journal_->Append(entry_);
    journal_ = nullptr;  // one outcome per change
}

JournalCheck CheckJournal(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return {};
    const std::optional<std::string> text = ReadWholeFile(path, kLargestJournal);
    if (!text) {
        JournalCheck check;
        check.firstUntrusted = 1;
        check.reason = "журнал не читается";
        return check;
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const std::optional<std::string> end = ReadEndText(folder.empty() ? "." : folder);
    return CheckJournalText(*text, end ? std::optional<std::string_view>(*end) : std::nullopt);
}

JournalCheck CheckJournalText(std::string_view text, std::optional<std::string_view> endText) {
    JournalCheck check;
    auto untrusted = [&check](int64_t line, std::string reason) {
        if (check.firstUntrusted != 0 && check.firstUntrusted <= line) return;
        check.firstUntrusted = line;
        check.reason = std::move(reason);
    };
    std::vector<std::string> hashes;  // each line's own, as it states it
    std::string expectedPrevious = kNoHash;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const bool cut = end == std::string::npos;
        const std::string_view line = text.substr(at, cut ? std::string::npos : end - at);
        at = cut ? text.size() : end + 1;
        const int64_t n = ++check.lines;

        const CheckedLine checked = CheckLine(line);
        std::optional<JournalEntry> entry;
        if (checked.json) entry = FromJson(*checked.json);
        if (entry) check.entries.push_back(*entry);
        if (cut) {
            untrusted(n, "строка " + std::to_string(n) + " оборвана: журнал обрезан");
        } else if (checked.hash.empty() || !checked.json) {
            untrusted(n, "строка " + std::to_string(n) + " не является записью журнала");
        } else if (!checked.matches) {
            untrusted(n, "строка " + std::to_string(n) + " изменена");
        } else if (!entry) {
            untrusted(n, "строка " + std::to_string(n) + " не является записью журнала");
        } else if (const auto prev = checked.json->find("prev");
                   prev == checked.json->end() || !prev->is_string() ||
                   prev->get<std::string>() != expectedPrevious || entry->entry != n) {
            untrusted(n, "перед строкой " + std::to_string(n) +
                             " строки удалены, вставлены или переставлены");
        }
        expectedPrevious = checked.hash.empty() ? Sha256Hex(line) : checked.hash;
        hashes.push_back(checked.hash);
    }

    // The end kept beside the journal: lines cut off its end, or a last line changed with its
    // hash. It may be one line behind (a crash between the two writes).
    if (endText) {
        const JournalEnd end = ParseEnd(*endText);
        if (end.entry < 0) {
            untrusted(std::max<int64_t>(check.lines, 1),
                      "файл конца журнала " + std::string(kEndName) + " изменен");
        } else if (end.entry > check.lines) {
            untrusted(check.lines + 1, "журнал обрезан: записей было " + std::to_string(end.entry) +
                                           ", осталось " + std::to_string(check.lines));
        } else if (end.entry + 1 < check.lines) {
            untrusted(end.entry + 2, "строки после " + std::to_string(end.entry + 1) +
                                         " дописаны не этим средством");
        } else if (end.entry > 0 && hashes[end.entry - 1] != end.hash) {
            untrusted(end.entry, "строка " + std::to_string(end.entry) + " изменена");
        }
    }
    return check;
}

std::string JournalCheckText(const JournalCheck& check) {
    if (check.Whole()) return "Журнал цел, записей: " + std::to_string(check.lines);
    return "Журналу нельзя доверять начиная со строки " + std::to_string(check.firstUntrusted) +
           ": " + check.reason;
}
