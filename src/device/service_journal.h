// The service journal: every change a front end asks of a device — an intent before anything
// is sent, an outcome after — in a file of JSON lines (UTF-8) that is only ever appended to.
// Each line carries the SHA-256 of its own text and that of the line before it, and the last
// line's is kept in a small file beside the journal, so that the check finds an edited,
// deleted, inserted or moved line and a journal cut short. A journal that fails the check is
// never repaired: the check says from which line on it cannot be trusted, and new entries
// still go on.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/config_file.h"

class TComPortClass;
class TProgVEKClass;

inline constexpr int kJournalFormatVersion = 1;

struct JournalEntry {
    int64_t entry = 0;  // the line's number, from 1
    std::string time;   // local time, "YYYY-MM-DD HH:MM:SS.mmm"
    std::string event;  // "intent" or "outcome"
    std::string action;  // the change in the operator's terms ("запись", "калибровка", ...)
    std::string user;
    std::string computer;
    std::string frontEnd;  // "window" or "cli"
    std::string toolVersion;
    std::string port;
    int32_t baud = 0;
    int32_t address = 0;  // the device's bus number (1..32) when the change was asked
    int32_t type = 0;
    int32_t version = 0;
    std::vector<FieldDifference> changes;  // an intent's fields: from what to what
    int64_t intent = 0;                    // an outcome's intent
    std::string verdict;                   // an outcome's: see the kVerdict texts
    int32_t result = 0;                    // a failed outcome's result code
    std::string text;                      // why it failed or was refused, as the operator was told
};

// An outcome's verdicts: the device confirmed the change; the device took the block but did
// not confirm it (it may hold the change); the change failed (nothing was taken); it was
// refused by a check or the operator before anything was sent.
inline constexpr const char* kVerdictConfirmed = "confirmed";
inline constexpr const char* kVerdictUnconfirmed = "unconfirmed";
inline constexpr const char* kVerdictFailed = "failed";
inline constexpr const char* kVerdictRefused = "refused";
// The operator's word for a verdict; for none (an intent left without an outcome by a crash
// or a pulled adapter), "итог не записан".
std::string VerdictText(const std::string& verdict);

class ServiceJournal {
  public:
    // The journal in `folder` (made when the first entry is written), written by the named
    // front end.
    ServiceJournal(std::string folder, std::string frontEnd);

    // VEK_DATA_DIR where it is set, else the platform's folder for a user's data:
    // $XDG_DATA_HOME/vek-serv (~/.local/share/vek-serv) on Linux, %APPDATA%\vek-serv on Windows.
    static std::string DefaultFolder();
    static std::string PathIn(const std::string& folder);

    const std::string& Path() const { return path_; }

    // Appends an entry, filling in its number, time, user, computer, front end and the tool's
    // version: its number, or 0 when it could not be written (LastError says why).
    int64_t Append(JournalEntry entry);
    const std::string& LastError() const { return lastError_; }

  private:
    std::string folder_;
    std::string path_;
    std::string frontEnd_;
    std::string lastError_;
};

// The journal's side of one change to a device: the intent is written at once, the outcome
// when the change has ended. With no journal it writes nothing.
class JournalledChange {
  public:
    JournalledChange(ServiceJournal* journal, const TComPortClass& link,
                     const TProgVEKClass& record, std::string action,
                     std::vector<FieldDifference> changes);
    void Outcome(const char* verdict, int32_t result = 0, std::string text = {});

  private:
    ServiceJournal* journal_;
    JournalEntry entry_;
};

// An entry as the journal's JSON, without the line's hashes.
nlohmann::ordered_json JournalEntryJson(const JournalEntry& entry);

// A change as a person reads it: its intent and the outcome that ended it, if the journal holds
// one.
struct ChangeAttempt {
    JournalEntry intent;
    std::optional<JournalEntry> outcome;
    // "подтверждено прибором", or the verdict with why ("не выполнено: устройство 1 …").
    std::string OutcomeText() const;
};
std::vector<ChangeAttempt> ChangeAttempts(const std::vector<JournalEntry>& entries);
// "устройство 1 (ВЭК-02МЕ)"
std::string JournalDeviceText(const JournalEntry& entry);

// The check of a journal: every line read and checked, and where trust ends.
struct JournalCheck {
    std::vector<JournalEntry> entries;  // the lines that could be read, in the file's order
    int64_t lines = 0;
    int64_t firstUntrusted = 0;  // the first line that cannot be trusted; 0: the journal is whole
    std::string reason;          // what is wrong there, for the operator
    bool Whole() const { return firstUntrusted == 0; }
};
// A journal that does not exist is whole and empty; one that cannot be read is untrusted from
// line 1.
JournalCheck CheckJournal(const std::string& path);
// The same check of a journal's text and its end file's (none: no end file).
JournalCheck CheckJournalText(std::string_view text, std::optional<std::string_view> endText);
// The operator's text of a check: "Журнал цел: N записей" or from where it is not.
std::string JournalCheckText(const JournalCheck& check);
