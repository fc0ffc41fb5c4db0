// The service journal's file: what an entry holds after the round trip, and every kind of
// tampering found at the line where trust ends, with new entries still going on after it.
#include "device/service_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line + "\n");
    return lines;
}
std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines)
        text += l;
    return text;
}

class Journal : public ::testing::Test {
  protected:
    Journal() {
        folder = fs::temp_directory_path() /
                 ("vek-journal-test-" + std::to_string(std::random_device{}()));
        fs::remove_all(folder);
    }
    ~Journal() override { fs::remove_all(folder); }

    JournalEntry Intent(int address) {
        JournalEntry e;
        e.event = "intent";
        e.action = "калибровка: канал 1, начало шкалы";
        e.port = "/dev/ttyUSB0";
        e.baud = 9600;
        e.address = address;
        e.type = 106;
        e.version = 3;
        e.changes = {{"АЦП начала шкалы, канал 1", "1000", "1234", "scale_start_1"}};
        return e;
    }
    // Six entries: three changes, each an intent and its outcome.
    void WriteSix() {
        ServiceJournal journal(folder.string(), "window");
        for (int i = 1; i <= 3; ++i) {
            JournalEntry e = Intent(i);
            const int64_t intent = journal.Append(e);
            ASSERT_EQ(intent, 2 * i - 1) << journal.LastError();
            e.event = "outcome";
            e.intent = intent;
            e.verdict = i == 2 ? kVerdictFailed : kVerdictConfirmed;
            e.result = i == 2 ? 130 : 0;
            e.text = i == 2 ? "устройство 2 не отвечает на запрос" : "";
            ASSERT_EQ(journal.Append(e), 2 * i) << journal.LastError();
        }
    }
    fs::path Path() const { return ServiceJournal::PathIn(folder.string()); }

    fs::path folder;
};

TEST_F(Journal, EntriesComeBackWithWhoWroteThemAndTheirChanges) {
    EXPECT_TRUE(CheckJournal(Path().string()).Whole());  // none yet: whole and empty
    WriteSix();
    const JournalCheck check = CheckJournal(Path().string());
    ASSERT_TRUE(check.Whole()) << JournalCheckText(check);
    EXPECT_EQ(JournalCheckText(check), "Журнал цел, записей: 6");
    ASSERT_EQ(check.entries.size(), 6u);
    const JournalEntry& intent = check.entries[2];
    EXPECT_EQ(intent.entry, 3);
    EXPECT_EQ(intent.event, "intent");
    EXPECT_EQ(intent.action, "калибровка: канал 1, начало шкалы");
    EXPECT_EQ(intent.frontEnd, "window");
    EXPECT_EQ(intent.toolVersion, VEK_VERSION);
    EXPECT_EQ(intent.address, 2);
    EXPECT_EQ(intent.time.size(), 23u);
    ASSERT_EQ(intent.changes.size(), 1u);
    EXPECT_EQ(intent.changes[0].second, "1234");
    const JournalEntry& outcome = check.entries[3];
    EXPECT_EQ(outcome.intent, 3);
    EXPECT_EQ(outcome.verdict, kVerdictFailed);
    EXPECT_EQ(outcome.result, 130);
    EXPECT_EQ(outcome.text, "устройство 2 не отвечает на запрос");
}

struct Tampering {
    const char* name;
    std::function<void(std::vector<std::string>&)> edit;
    int64_t firstUntrusted;
};

TEST_F(Journal, EveryTamperingIsFoundWhereTrustEndsAndEntriesGoOn) {
    const Tampering cases[] = {
        {"one byte of a text", [](auto& l) { l[2].replace(l[2].find("1234"), 1, "7"); }, 3},
        {"one byte of a hash", [](auto& l) { l[3][l[3].size() - 5] ^= 1; }, 4},
        {"a line deleted", [](auto& l) { l.erase(l.begin() + 2); }, 3},
        {"the first line deleted", [](auto& l) { l.erase(l.begin()); }, 1},
        {"the last line deleted", [](auto& l) { l.pop_back(); }, 6},
        {"two lines swapped", [](auto& l) { std::swap(l[1], l[2]); }, 2},
        {"a line inserted", [](auto& l) { l.insert(l.begin() + 4, l[1]); }, 5},
        {"the file cut inside a line",
         [](auto& l) {
             l[4].resize(l[4].size() / 2);
             l.pop_back();
         },
         5},
        {"a line made empty", [](auto& l) { l[1] = "\n"; }, 2},
    };
    for (const Tampering& t : cases) {
        SCOPED_TRACE(t.name);
        fs::remove_all(folder);
        WriteSix();
        std::vector<std::string> lines = Lines(ReadText(Path()));
        t.edit(lines);
        WriteText(Path(), Joined(lines));

        const JournalCheck check = CheckJournal(Path().string());
        EXPECT_EQ(check.firstUntrusted, t.firstUntrusted) << check.reason;
        EXPECT_NE(JournalCheckText(check).find("строки " + std::to_string(t.firstUntrusted)),
                  std::string::npos)
            << JournalCheckText(check);

        // Never repaired: a new entry follows, the damage stays where it was found.
        ServiceJournal journal(folder.string(), "cli");
        EXPECT_GT(journal.Append(Intent(5)), 0) << journal.LastError();
        const JournalCheck after = CheckJournal(Path().string());
        EXPECT_EQ(after.firstUntrusted, t.firstUntrusted) << after.reason;
        EXPECT_EQ(after.entries.back().frontEnd, "cli");
    }
}

}  // namespace
