// Every fault the simulator can put on the line, against every operation of the main window, end
// to end on a pseudo-terminal: what the operator is told, the state the windows are left in, and
// above all that the device never holds a block other than the one read plus the edit made.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <map>

#include "device/service_journal.h"
#include "scan_to_end.h"
#include "ui/Obrlistdevice.h"
#include "ui_Obrlistdevice.h"
#include "window_on_line.h"

namespace {

const char* const kStartQuestion =
    "Внимание! Сейчас будет произведена калибровка\nначала шкалы измерения \nУбедитесь, подан "
    "ли на вход сигнал,\nсоответствующий началу шкалы?";
const char* const kNoData = "Нет данных о приборе,\nпроизведите ввод информации с СОМ порта";
const char* const kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";
const char* const kFarewell = "Работа закончена";
constexpr int16_t kAdc1 = 4321;  // channel 1's present code, taken by the calibration

enum class Op { Read, Poll, Write, Calibrate, CalibrateRead, Trim, List };
const char* const kOpNames[] = {"Read",          "Poll", "Write", "Calibrate",
                                "CalibrateRead", "Trim", "List"};

// What a cell comes to.
enum class Outcome {
    Passes,            // the fault costs retries only
    Fails,             // the operation's first exchange fails (the write's identification, the
                       // mode command); the list leaves device 1 out
    ReadFails,         // a read fails: F9, a tick, the read inside a calibration
    WrittenReadFails,  // the block is stored and confirmed, the read after it fails
    PortLost,          // the port fails: one message, and the window closes
};

class FaultMatrix;
struct Fault {
    const char* name;
    void (*on)(FaultMatrix&);
    const char* report;  // what follows "устройство 1 <port>" in the report of a failure
    bool lineWide = false;  // every device on the line shows it, not device 1 alone
};

struct Cell {
    const Fault* fault;
    Op op;
    Outcome outcome;
};

// Polling runs before every operation that the operator may start while it runs.
bool PollsBefore(Op op) {
    return op == Op::Poll || op == Op::Calibrate || op == Op::CalibrateRead || op == Op::Trim;
}
bool Writes(Op op) {
    return op == Op::Write || op == Op::Calibrate || op == Op::CalibrateRead || op == Op::Trim;
}

class FaultMatrix : public WindowOnLine, public ::testing::WithParamInterface<Cell> {
  public:
    FaultMatrix() {
        // Two attempts for a header and two for a body, as an operator may set them in the
        // exchange settings dialog: a silent transaction then costs two header time-outs
        // (about 2.6 s) instead of five, and the whole matrix stays within its time.
        form1.Link.SetStage1Attempts(2);
        form1.Link.SetStage2Attempts(2);
        Device(1, [](vsim::VirtualDevice& d) {
            d.fixedMeasurement = vsim::Measurement{{100, 200}, {0, 0}, {kAdc1, -1234}};
        });
    }
    void SetFaults(const vsim::DeviceFaults& f) {
        Device(1, [&](vsim::VirtualDevice& d) { d.faults = f; });
    }
    void SetTurnaround(int ms) {
        server.WithLine([=](vsim::VirtualLine& line) { line.SetTurnaroundMs(ms); });
    }
    std::string Report(const char* what) const {
        return "устройство 1 " + server.PortPath() + what;
    }
};

using F = vsim::DeviceFaults;
const Fault kSilent{"Silent", [](FaultMatrix& t) { t.SetFaults(F{.silent = true}); },
                    " не отвечает на запрос"};
const Fault kDrop{"DropEvery2nd", [](FaultMatrix& t) { t.SetFaults(F{.dropEvery = 2}); }, ""};
// Each reply cut after two bytes (in the header) or after five (two bytes into the body).
const Fault kShortHeader{"ShortInHeader", [](FaultMatrix& t) { t.SetFaults(F{.shortLength = 2}); },
                         " тайм-аут приема данных"};
const Fault kShortBody{"ShortInBody", [](FaultMatrix& t) { t.SetFaults(F{.shortLength = 5}); },
                       " тайм-аут приема данных"};
const Fault kBadCrc{"BadCrc", [](FaultMatrix& t) { t.SetFaults(F{.badCrc = true}); },
                    " ошибка контрольной суммы"};
const Fault kForeign{"ForeignFunction",
                     [](FaultMatrix& t) { t.SetFaults(F{.foreignFunction = 256}); },
                     " ошибка приема данных "};
const Fault kException{"Exception2", [](FaultMatrix& t) { t.SetFaults(F{.exceptionCode = 2}); },
                       " ошибка обмена 02"};
// An exception code from 0x80 on is the device's, never one of the link's own 128..135.
const Fault kException84{"Exception84",
                         [](FaultMatrix& t) { t.SetFaults(F{.exceptionCode = 0x84}); },
                         " ошибка обмена 84"};
const Fault kBusy{"Busy6", [](FaultMatrix& t) { t.SetFaults(F{.exceptionCode = 6}); },
                  " Идет запись базы данных. Ждите."};
// The header stops after two bytes and the rest comes 300 ms later, past the port's 100 ms
// between bytes. The retry pause passes in 30 ms here, so the rest comes after the resend,
// where it is a header from nobody: two attempts, two failures.
const Fault kSplit{"SplitReply",
                   [](FaultMatrix& t) { t.SetFaults(F{.splitGapMs = 300, .splitAt = 2}); },
                   " ошибка приема данных "};
const Fault kLongBlock{"LongBlock", [](FaultMatrix& t) { t.SetFaults(F{.longBlock = 40}); },
                       " ошибка приема данных "};
// Every device answers 2800 ms after a request: past the 1300 ms time-out of a header, and
// with the retry pause passing in 30 ms, past the time-out of the resend too. (A reply 1400 ms
// late would come in the resend's own wait here, not in the pause that empties it on a real
// clock, and the outcome would race with the next request.) The late reply of address 1 then
// meets the list's request to address 2.
const Fault kLate{"LateReply", [](FaultMatrix& t) { t.SetTurnaround(2800); },
                  " не отвечает на запрос", true};
const Fault kLineRemoved{"LineRemoved", [](FaultMatrix& t) { t.server.Stop(); }, ""};

// The journal is whole and holds exactly one outcome for each intent. The last block write's
// verdict agrees with the device: confirmed (or taken unconfirmed) when it stored the block,
// failed or refused when it did not (stored -1: no change may be journalled at all).
void ExpectJournalHolds(const std::string& path, int stored) {
    const JournalCheck journal = CheckJournal(path);
    EXPECT_TRUE(journal.Whole()) << JournalCheckText(journal);
    std::map<int64_t, std::string> actions;  // of every intent
    std::map<int64_t, std::string> verdicts;
    std::string lastWrite;
    for (const JournalEntry& e : journal.entries) {
        if (e.event == "intent") {
            actions[e.entry] = e.action;
            continue;
        }
        ASSERT_EQ(actions.count(e.intent), 1u) << "an outcome without its intent";
        EXPECT_TRUE(verdicts.emplace(e.intent, e.verdict).second) << "a second outcome";
        if (actions[e.intent].rfind("режим калибровки", 0) != 0) lastWrite = e.verdict;
    }
    EXPECT_EQ(verdicts.size(), actions.size()) << "an intent without its outcome";
    if (stored < 0) {
        EXPECT_TRUE(journal.entries.empty());
    } else if (stored == 1) {
        EXPECT_TRUE(lastWrite == kVerdictConfirmed || lastWrite == kVerdictUnconfirmed)
            << lastWrite;
    } else if (!lastWrite.empty()) {
        EXPECT_TRUE(lastWrite == kVerdictFailed || lastWrite == kVerdictRefused) << lastWrite;
    }
}

TEST_P(FaultMatrix, Cell) {
    const Cell& c = GetParam();
    Ui::TForm1& ui = *form1.ui;
    // The fault of the "read inside" column comes on while the calibration's question is open.
    SetMessageResponder([&](const OperatorMessage& m) {
        recorder.messages.push_back(m);
        if (c.op == Op::CalibrateRead && m.text == kStartQuestion) c.fault->on(*this);
        // The farewell box runs an event loop: a polling tick is delivered while it is open.
        if (m.text == kFarewell && form1.Timer1.isActive()) form1.Timer1Timer();
        return m.defaultButton;
    });
    const std::vector<uint8_t> original = BlockOf(1);
    std::vector<uint8_t> edited = original;
    if (c.op != Op::List) ReadDevice(1);
    if (PollsBefore(c.op)) form1.BtnPuskTimerClick();
    ui.LabRegKalibr->hide();
    std::unique_ptr<TFormDevice> list;
    if (c.op != Op::CalibrateRead) c.fault->on(*this);

    switch (c.op) {
        case Op::Read:
            QTest::keyClick(&form1, Qt::Key_F9);
            break;
        case Op::Poll:
            form1.Timer1Timer();
            break;
        case Op::Write: {
            const int contact = 1 - ui.CBoxTipK1->currentIndex();
            edited[vsim::blk::kFlags] ^= vsim::blk::kContactNc1;
            Choose(ui.CBoxTipK1, contact);
            QTest::keyClick(&form1, Qt::Key_F10);
            break;
        }
        case Op::Calibrate:
        case Op::CalibrateRead:
            edited[vsim::blk::kScaleStart1] = kAdc1 & 0xFF;
            edited[vsim::blk::kScaleStart1 + 1] = kAdc1 >> 8;
            ui.KalibrBegSk1->click();
            break;
        case Op::Trim: {
            const int trim = (original[vsim::blk::kTrim1] & 0x0F) ^ 1;
            edited[vsim::blk::kTrim1] =
                static_cast<uint8_t>((original[vsim::blk::kTrim1] & 0xF0) | trim);
            Choose(ui.CBoxCurrentEnd1, trim);
            break;
        }
        case Op::List:
            list = std::make_unique<TFormDevice>(form1.Link);
            form1.Link.SetStage1Attempts(3);
            list->ui->CBoxUstr->setCurrentIndex(1);  // up to 2
            ScanToEnd(*list);
            break;
    }
    const bool lost = c.outcome == Outcome::PortLost;
    const bool pollingAfterOp = form1.Timer1.isActive();
    if (lost) QTest::qWait(20);  // the close the failure asked for

    // The messages, in order: the question, the one report, and for a failed read the refusal
    // of a write that would send the cleared block (tried with the line healthy again).
    std::vector<std::string> texts;
    if (c.op == Op::CalibrateRead || (c.op == Op::Calibrate && (c.outcome == Outcome::Passes ||
                                                                c.outcome == Outcome::ReadFails)))
        texts.push_back(kStartQuestion);
    if (lost) {
        texts.insert(texts.end(), {kDisconnected, kFarewell});
    } else if (c.outcome != Outcome::Passes && c.op != Op::List) {
        texts.push_back(Report(c.fault->report));
    }
    if ((c.op == Op::Read || c.op == Op::Poll) && c.outcome == Outcome::ReadFails) {
        SetFaults({});
        SetTurnaround(1);
        form1.OutPortClick();
        texts.push_back(kNoData);
    }
    EXPECT_EQ(Texts(), texts);

    // The device holds the block it had, or that block with exactly the edit made.
    const bool stored =
        (c.outcome == Outcome::Passes && Writes(c.op)) || c.outcome == Outcome::WrittenReadFails;
    EXPECT_EQ(BlocksStored(1), stored ? 1 : 0);
    EXPECT_EQ(BlockOf(1), stored ? edited : original);
    EXPECT_EQ(BlocksStored(2), 0);
    ExpectJournalHolds(form1.Journal.Path(), c.op == Op::List ? -1 : int(stored));

    // Nothing polls a port that has failed.
    const bool polls = PollsBefore(c.op) && c.outcome != Outcome::ReadFails && !lost;
    EXPECT_EQ(pollingAfterOp, polls);
    EXPECT_EQ(form1.Timer1.isActive(), polls);
    EXPECT_EQ(form1.isVisible(), !lost);
    EXPECT_EQ(form1.ComPort1.Connected(), !lost);
    if (!lost) {
        EXPECT_EQ(ui.LabTimer->isVisible(), polls);
        EXPECT_EQ(form1.ReportErrors, polls ? 0 : 1);
        if (c.op != Op::List) {
            const bool whole =
                c.outcome != Outcome::ReadFails && c.outcome != Outcome::WrittenReadFails;
            EXPECT_EQ(form1.Record.DataRead, whole ? 1 : 0);
        }
        // A block that went out is no longer offered at the close; one that did not still is.
        if (c.op == Op::Write || c.op == Op::Trim) {
            EXPECT_EQ(form1.Record.Changed, stored ? 0 : 1);
        }
    }
    EXPECT_FALSE(ui.ProgressBar1->isVisible());
    if (c.op == Op::Calibrate || c.op == Op::CalibrateRead) {
        EXPECT_EQ(ui.LabRegKalibr->isHidden(), c.outcome == Outcome::Passes);
    }
    EXPECT_EQ(form1.Link.GetStage1Attempts(), c.op == Op::List ? 3 : 2);
    if (c.op == Op::List) {
        std::vector<std::string> rows;
        for (int row = 1; row <= 2; ++row) {
            const QString text = list->Cells(0, row) + " " + list->Cells(1, row);
            if (text != " ") rows.push_back(text.toStdString());
        }
        std::vector<std::string> listed;
        if (c.outcome == Outcome::Passes) listed.push_back("1 ВЭК-02МЕ");
        if (c.outcome == Outcome::Passes || (c.outcome == Outcome::Fails && !c.fault->lineWide))
            listed.push_back("2 ВЭК-01МЕ");
        EXPECT_EQ(rows, listed);
        EXPECT_TRUE(list->ui->ProgressBar1->isHidden());
    }
}

void PrintTo(const Cell& c, std::ostream* os) {
    *os << c.fault->name << " × " << kOpNames[int(c.op)];
}

using enum Op;
using enum Outcome;
const Cell kCells[] = {
    {&kSilent, Read, ReadFails},
    {&kSilent, Poll, ReadFails},
    {&kSilent, Write, Fails},
    {&kSilent, Calibrate, Fails},
    {&kSilent, CalibrateRead, ReadFails},
    {&kSilent, Trim, Fails},
    {&kSilent, List, Fails},

    // One reply in two is lost: each loss costs one header attempt and nothing else.
    // Calibrate is left out: with the fault on before the click it runs the same exchanges as
    // CalibrateRead, at about 10 s of time-outs.
    {&kDrop, Read, Passes},
    {&kDrop, Poll, Passes},
    {&kDrop, Write, Passes},
    {&kDrop, CalibrateRead, Passes},
    {&kDrop, Trim, Passes},
    {&kDrop, List, Passes},

    {&kShortHeader, Read, ReadFails},
    {&kShortHeader, Poll, ReadFails},
    {&kShortHeader, Write, Fails},
    {&kShortHeader, Calibrate, Fails},
    {&kShortHeader, CalibrateRead, ReadFails},
    {&kShortHeader, Trim, Fails},
    {&kShortHeader, List, Fails},

    {&kShortBody, Read, ReadFails},
    {&kShortBody, Poll, ReadFails},
    {&kShortBody, Write, Fails},
    {&kShortBody, Calibrate, Fails},
    {&kShortBody, CalibrateRead, ReadFails},
    {&kShortBody, Trim, Fails},
    {&kShortBody, List, Fails},

    {&kBadCrc, Read, ReadFails},
    {&kBadCrc, Poll, ReadFails},
    {&kBadCrc, Write, Fails},
    {&kBadCrc, Calibrate, Fails},
    {&kBadCrc, CalibrateRead, ReadFails},
    {&kBadCrc, Trim, Fails},
    {&kBadCrc, List, Fails},

    {&kForeign, Read, ReadFails},
    {&kForeign, Poll, ReadFails},
    {&kForeign, Write, Fails},
    {&kForeign, Calibrate, Fails},
    {&kForeign, CalibrateRead, ReadFails},
    {&kForeign, Trim, Fails},
    {&kForeign, List, Fails},

    {&kException, Read, ReadFails},
    {&kException, Poll, ReadFails},
    {&kException, Write, Fails},
    {&kException, Calibrate, Fails},
    {&kException, CalibrateRead, ReadFails},
    {&kException, Trim, Fails},
    {&kException, List, Fails},

    {&kException84, Read, ReadFails},
    {&kException84, Write, Fails},
    {&kException84, List, Fails},

    {&kBusy, Read, ReadFails},
    {&kBusy, Poll, ReadFails},
    {&kBusy, Write, Fails},
    {&kBusy, Calibrate, Fails},
    {&kBusy, CalibrateRead, ReadFails},
    {&kBusy, Trim, Fails},
    {&kBusy, List, Fails},

    {&kSplit, Read, ReadFails},
    {&kSplit, Poll, ReadFails},
    {&kSplit, Write, Fails},
    {&kSplit, Calibrate, Fails},
    {&kSplit, CalibrateRead, ReadFails},
    {&kSplit, Trim, Fails},
    {&kSplit, List, Fails},

    // Only the configuration reply is padded; the list never asks for it.
    {&kLongBlock, Read, ReadFails},
    {&kLongBlock, Poll, ReadFails},
    {&kLongBlock, Write, WrittenReadFails},
    {&kLongBlock, Calibrate, ReadFails},
    {&kLongBlock, CalibrateRead, ReadFails},
    {&kLongBlock, Trim, WrittenReadFails},

    {&kLate, Read, ReadFails},
    {&kLate, Poll, ReadFails},
    {&kLate, Write, Fails},
    {&kLate, Calibrate, Fails},
    {&kLate, CalibrateRead, ReadFails},
    {&kLate, Trim, Fails},
    {&kLate, List, Fails},

    {&kLineRemoved, Read, PortLost},
    {&kLineRemoved, Poll, PortLost},
    {&kLineRemoved, Write, PortLost},
    // A port lost in a command stops polling at once: no tick reads the closed port while
    // the farewell box is open.
    {&kLineRemoved, Calibrate, PortLost},
    {&kLineRemoved, CalibrateRead, PortLost},
    // The trim does not start polling again on a port that is gone.
    {&kLineRemoved, Trim, PortLost},
    {&kLineRemoved, List, PortLost},
};
INSTANTIATE_TEST_SUITE_P(Cases, FaultMatrix, ::testing::ValuesIn(kCells), [](const auto& info) {
    return std::string(info.param.fault->name) + "_" + kOpNames[int(info.param.op)];
});

}  // namespace
