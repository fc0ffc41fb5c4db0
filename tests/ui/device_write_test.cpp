// The editing rules, the write and the close of the main window as an operator meets them:
// keys typed into the real widgets of an active window, items chosen in the lists, F10, and
// the simulator's stored block checked byte for byte.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QTest>

#include "dialog_script.h"
#include "line_server.h"
#include "link/Obrport.h"
#include "link/exchange_settings_dialog.h"
#include "scripted_device.h"
#include "support/message_recorder.h"
#include "support/pty_pair.h"
#include "support/short_wait_clock.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"
#include "ui_Obrport.h"
#include "window_on_line.h"

namespace {

const char* const kNoData = "Нет данных о приборе,\nпроизведите ввод информации с СОМ порта";
const char* const kInputError = " Ошибка ввода ";

class Editing : public WindowOnLine {};

// Every configuration control of a ВЭК-02МЕ edited and written with F10: the device holds
// exactly the edits, the bytes the tool does not interpret go back as they were read, and the
// window shows the device again after the write's read.
TEST_F(Editing, F10WritesExactlyTheEditedFields) {
    ReadDevice(1);
    Ui::TForm1& ui = *form1.ui;
    std::vector<uint8_t> expected = BlockOf(1);
    ASSERT_EQ(expected[9], 0x02);   // channel 2 square root
    ASSERT_EQ(expected[10], 0x02);  // channel 2 from 0 kPa
    ASSERT_EQ(expected[4], 0x31);   // setpoint 1 H, setpoint 2 "нз", channel 2 break max

    Choose(ui.CBoxTipD1, 1);
    Choose(ui.CBoxMin1, 1);
    Choose(ui.CBoxTipD2, 0);
    Choose(ui.CBoxMin2, 0);
    Choose(ui.CBoxTipSign1, 0);
    Choose(ui.CBoxTipSign2, 1);
    Choose(ui.CBoxTipK1, 1);
    Choose(ui.CBoxTipK2, 0);
    Choose(ui.CBoxBreak1, 1);
    Choose(ui.CBoxBreak2, 0);
    Type(ui.Ust1, "55");
    Type(ui.Ust2, "20,5");
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
    EXPECT_EQ(form1.Record.Changed, 1);
    EXPECT_EQ(ui.StUstKod1->text(), "9010");
    EXPECT_EQ(ui.StUstKod2->text(), "3358");

    expected[4] = 0x0E;  // alarm 1 L, alarm 2 H, break 1 max, contact 1 "нз", contact 2 "нр"
    expected[5] = 9010 & 0xFF, expected[6] = 9010 >> 8;
    expected[7] = 3358 & 0xFF, expected[8] = 3358 >> 8;
    expected[9] = 0x01;
    expected[10] = 0x01;
    QTest::keyClick(&form1, Qt::Key_F10);
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
    EXPECT_EQ(BlockOf(1), expected);
    EXPECT_EQ(BlocksStored(1), 1);
    EXPECT_EQ(form1.Record.Changed, 0);
    EXPECT_EQ(form1.Record.DataRead, 1);
    EXPECT_FALSE(ui.ProgressBar1->isVisible());
    EXPECT_EQ(ui.CBoxTipD1->currentText(), "корнеизвлечение");
    EXPECT_EQ(ui.CBoxMin2->currentText(), "20");
    EXPECT_EQ(ui.Ust1->text(), "55");
    EXPECT_EQ(ui.Ust2->text(), "20");
    EXPECT_EQ(form1.Record.RangeStart1, 0.0f);
    EXPECT_EQ(QApplication::focusWidget(), ui.Ust2);  // the control last edited
}

// The requests the link writes, address and function code, in order.
struct RequestLog final : LinkObserver {
    std::vector<std::pair<int, int>> requests;
    void RequestWritten(int64_t, std::span<const uint8_t> frame) override {
        requests.emplace_back(frame[0], frame[1]);
    }
    void ReplyRead(int64_t, std::span<const uint8_t>, int64_t) override {}
    void TransactionEnded(int64_t, int32_t, int32_t) override {}
    int Count(int address, int function) const {
        return int(std::count(requests.begin(), requests.end(), std::pair{address, function}));
    }
    // The requests to an address before the first block write.
    int BeforeBlock(int address) const {
        int n = 0;
        for (auto [a, f] : requests) {
            if (f == 69) break;
            n += a == address;
        }
        return n;
    }
};

// Renumbering: the number chosen stops polling and waits for the write, which first asks the
// new number for an identification with the search's two attempts. Anything that answers
// there (a device, its exception, a garbled or a foreign reply), up or down, refuses the
// number before any block goes out, and the block carries the device's own number again, so
// that the next write sends the other edit. A free number, the last one too, is taken: the
// block goes to the old address, the confirmation and the read to the new, and if the
// confirmation fails the window still shows the number the device now answers at.
struct Renumbering {
    const char* name;
    int from, to;                   // bus numbers
    bool occupied;                  // a device answers at `to`
    void (*prepare)(Editing&);      // faults of the line
    const char* failure = nullptr;  // taken, but the confirmation fails with this report
};

class RenumberingCase : public Editing, public ::testing::WithParamInterface<Renumbering> {};

TEST_P(RenumberingCase, TakesOnlyAFreeNumber) {
    const Renumbering& c = GetParam();
    RequestLog log;
    form1.Link.Observer = &log;
    ReadDevice(c.from);
    const std::vector<uint8_t> before = BlockOf(c.from);
    form1.BtnPuskTimerClick();
    Choose(form1.ui->CBoxUstrZ, c.to - 1);
    EXPECT_FALSE(form1.Timer1.isActive());
    Choose(form1.ui->CBoxTipSign1, 1 - form1.ui->CBoxTipSign1->currentIndex());
    EXPECT_EQ(form1.Record.GetDeviceNumberByte(), c.to - 1);
    if (c.prepare) c.prepare(*this);
    log.requests.clear();
    QTest::keyClick(&form1, Qt::Key_F10);
    form1.Link.Observer = nullptr;
    // A silent number is asked twice, whatever the operator's attempts.
    if (!c.occupied) {
        EXPECT_EQ(log.BeforeBlock(c.to), 2);
    }

    if (c.occupied) {
        EXPECT_EQ(Texts(), std::vector<std::string>{"Номер " + std::to_string(c.to) +
                                                    " уже занят другим устройством.\n"
                                                    "Сохранение отменено"});
        EXPECT_EQ(log.Count(c.from, 69) + log.Count(c.to, 69), 0);
        EXPECT_EQ(form1.ui->CBoxUstrZ->currentText(), QString::number(c.from));
        EXPECT_EQ(form1.Record.NewDeviceNumber, c.from - 1);
        Device(2, [](vsim::VirtualDevice& d) { d.faults = {}; });
        QTest::qWait(50);  // what is left of a garbled reply passes
        recorder.messages.clear();
        QTest::keyClick(&form1, Qt::Key_F10);
        EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
        ASSERT_EQ(BlocksStored(c.from), 1);
        std::vector<uint8_t> expected = before;
        expected[vsim::blk::kFlags] ^= vsim::blk::kAlarmHigh1;
        EXPECT_EQ(BlockOf(c.from), expected);
        return;
    }
    const std::string failure =
        c.failure ? "устройство " + std::to_string(c.to) + " " + server.PortPath() + c.failure : "";
    EXPECT_EQ(Texts(),
              failure.empty() ? std::vector<std::string>{} : std::vector<std::string>{failure});
    EXPECT_EQ(log.Count(c.from, 69), 1);
    EXPECT_EQ(form1.Record.DeviceNumber, c.to - 1);
    EXPECT_EQ(form1.ui->CBoxUstr->currentText(), QString::number(c.to));
    EXPECT_EQ(form1.Record.Changed, c.failure ? 1 : 0);
    EXPECT_GE(clock.SkippedMs(), 1900);  // the store wait
    if (c.failure) return;
    EXPECT_EQ(form1.Record.DataRead, 1);
    ASSERT_EQ(BlockOf(c.to)[17], c.to - 1);
    // The device is read and written at its new number.
    QTest::keyClick(&form1, Qt::Key_F10);
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
    EXPECT_EQ(BlocksStored(c.to), 2);
}

void Faults(Editing& t, vsim::DeviceFaults faults) {
    t.Device(2, [&](vsim::VirtualDevice& d) { d.faults = faults; });
}

const Renumbering kRenumberings[] = {
    {"UpOntoADevice", 1, 2, true, nullptr},
    {"DownOntoADevice", 2, 1, true, nullptr},
    {"OntoAnException", 1, 2, true, [](Editing& t) { Faults(t, {.exceptionCode = 2}); }},
    {"OntoABadChecksum", 1, 2, true, [](Editing& t) { Faults(t, {.badCrc = true}); }},
    {"OntoAForeignReply", 1, 2, true, [](Editing& t) { Faults(t, {.foreignFunction = 256}); }},
    {"ToAFreeNumber", 1, 5, false, nullptr},
    {"ToTheLastNumber", 1, 32, false, nullptr},
    {"ConfirmationFails", 1, 5, false,
     [](Editing& t) {
         t.form1.Link.SetStage1Attempts(1);
         t.Device(1, [](vsim::VirtualDevice& d) { d.SetBusyTime(std::chrono::seconds(5)); });
     },
     " не отвечает на запрос"},
};
INSTANTIATE_TEST_SUITE_P(Cases, RenumberingCase, ::testing::ValuesIn(kRenumberings),
                         [](const auto& info) { return std::string(info.param.name); });

// The wheel passing over the window is never a choice: no closed list changes on a notch,
// focused or not, and the write, a trim and the close then send the device its own block; the
// device keeps its number.
TEST_F(Editing, WheelNeverChangesAClosedList) {
    ReadDevice(1);
    const std::vector<uint8_t> block = BlockOf(1);
    const QList<QComboBox*> lists = form1.findChildren<QComboBox*>();
    ASSERT_EQ(lists.size(), 18);
    for (QComboBox* box : lists) {
        for (bool focused : {false, true}) {
            if (focused) {
                box->setFocus(Qt::TabFocusReason);
            } else {
                form1.ui->StKBegSk1->setFocus(Qt::TabFocusReason);
            }
            const int before = box->currentIndex();
            for (int notches : {1, -1, -4, 4})
                Wheel(box, notches);
            EXPECT_EQ(box->currentIndex(), before) << box->objectName().toStdString();
        }
    }
    EXPECT_EQ(form1.Record.Changed, 0);
    EXPECT_EQ(form1.Record.NewDeviceNumber, 0);
    EXPECT_EQ(form1.Record.DataRead, 1);

    QTest::keyClick(&form1, Qt::Key_F10);
    Choose(form1.ui->CBoxCurrent2, form1.ui->CBoxCurrent2->currentIndex());
    form1.close();
    EXPECT_EQ(Texts(), std::vector<std::string>{"Работа закончена"});
    EXPECT_EQ(BlocksStored(1), 2);
    EXPECT_EQ(BlockOf(1), block);
}

// A tick that the close question's event loop delivers reads nothing: the change the question
// offers (here a trim whose write failed, with polling started again) goes out on Yes.
TEST_F(Editing, NoTickReadsUnderTheCloseQuestion) {
    ReadDevice(1);
    form1.BtnPuskTimerClick();
    Device(1, [](vsim::VirtualDevice& d) { d.faults.exceptionCode = 2; });
    Choose(form1.ui->CBoxCurrentEnd1, 15);
    ASSERT_EQ(Texts(),
              std::vector<std::string>{"устройство 1 " + server.PortPath() + " ошибка обмена 02"});
    ASSERT_TRUE(form1.Timer1.isActive());
    ASSERT_EQ(form1.Record.Changed, 1);
    Device(1, [](vsim::VirtualDevice& d) { d.faults.exceptionCode = -1; });
    QTest::qWait(50);  // the exception reply's checksum bytes pass

    int readsUnderQuestion = 0;
    SetMessageResponder([&](const OperatorMessage& m) {
        recorder.messages.push_back(m);
        if (m.buttons != MessageButtons::YesNo) return m.defaultButton;
        form1.Timer1Timer();
        readsUnderQuestion += form1.Record.Changed == 0;
        return MessageAnswer::Yes;
    });
    form1.close();
    EXPECT_EQ(readsUnderQuestion, 0);
    EXPECT_EQ(BlocksStored(1), 1);
    EXPECT_EQ(BlockOf(1)[15] & 0x0F, 15);
}

// A device choice cancelled while a new number waits shows the number the device has.
TEST_F(Editing, CancelledDeviceChoiceShowsTheDevicesOwnNumber) {
    ReadDevice(1);
    Choose(form1.ui->CBoxUstrZ, 4);
    recorder.answers = {MessageAnswer::Cancel};
    Choose(form1.ui->CBoxUstr, 1);
    EXPECT_EQ(form1.ui->CBoxUstr->currentText(), "1");
    EXPECT_EQ(form1.Record.NewDeviceNumber, 4);
}

// Every way to a record that does not hold a whole block of the device on the line ends
// before a block is sent, with a clear message.
// Each is reported once, and no refusal leaves polling running.
struct Refusal {
    const char* name;
    void (*prepare)(Editing&);
    const char* message;  // one that starts with a space follows "устройство 1 <port>"
};

class WriteRefusal : public Editing, public ::testing::WithParamInterface<Refusal> {};

TEST_P(WriteRefusal, SendsNoBlock) {
    GetParam().prepare(*this);
    recorder.messages.clear();
    form1.OutPortClick();
    const std::string message = GetParam().message;
    EXPECT_EQ(Texts(), std::vector<std::string>{message[0] == ' '
                                                    ? "устройство 1 " + server.PortPath() + message
                                                    : message});
    EXPECT_EQ(BlocksStored(1) + BlocksStored(2), 0);
    EXPECT_FALSE(form1.ui->ProgressBar1->isVisible());
    EXPECT_FALSE(form1.Timer1.isActive());
    EXPECT_EQ(form1.ReportErrors, 1);
    // The write's start moved the focus to the window's first tab stop, and it stays there.
    if (form1.Record.DataRead) {
        EXPECT_EQ(QApplication::focusWidget(), form1.ui->CBoxTipD1);
    }
}

const Refusal kRefusals[] = {
    {"NoRead", [](Editing&) {}, kNoData},
    {"FailedPoll",
     [](Editing& t) {
         t.ReadDevice(1);
         t.form1.Link.SetStage1Attempts(1);
         t.Device(1, [](vsim::VirtualDevice& d) { d.faults.silent = true; });
         t.form1.BtnPuskTimerClick();
         t.form1.Timer1Timer();
         t.Device(1, [](vsim::VirtualDevice& d) { d.faults.silent = false; });
     },
     kNoData},
    {"ModelWarning",
     [](Editing& t) {
         t.ReadDevice(1);
         t.Device(1, [](vsim::VirtualDevice& d) { d.SetType(104); });
         t.form1.InPortClick();
     },
     kNoData},
    {"PortLost",
     [](Editing& t) {
         t.ReadDevice(1);
         t.server.Stop();
         t.form1.InPortClick();
         t.server.Start();
         t.form1.Link.PortName = t.server.PortPath();
         t.form1.Link.OpenPort();
     },
     kNoData},
    {"AnotherDeviceChosen",
     [](Editing& t) {
         t.ReadDevice(1);
         t.form1.ui->CBoxUstr->setCurrentIndex(1);
         t.form1.CBoxUstrClick(1);
     },
     kNoData},
    {"NewNumberOffTheBus",
     [](Editing& t) {
         t.ReadDevice(1);
         t.form1.Record.NewDeviceNumber = 32;
     },
     kNoData},
    {"NewNumberNotInTheBlock",
     [](Editing& t) {
         t.ReadDevice(1);
         t.form1.Record.NewDeviceNumber = 4;
     },
     kNoData},
    // While polling keeps failed reads quiet, a failed identification stops it and is shown.
    {"SilentWhilePolling",
     [](Editing& t) {
         t.ReadDevice(1);
         t.form1.Link.SetStage1Attempts(1);
         t.form1.BtnPuskTimerClick();
         t.Device(1, [](vsim::VirtualDevice& d) { d.faults.silent = true; });
     },
     " не отвечает на запрос"},
    {"AnotherTypeOnTheLine",
     [](Editing& t) {
         t.ReadDevice(1);
         t.Device(1, [](vsim::VirtualDevice& d) { d.SetType(105); });
     },
     "Не совпадает тип прибора \nпри попытке сохранить базу.\nСохранение отменено"},
    {"AnotherVersion",
     [](Editing& t) {
         t.ReadDevice(1);
         t.Device(1, [](vsim::VirtualDevice& d) { d.SetVersion(2); });
     },
     "Не совпадает версия прибора \nпри попытке сохранить базу.\nСохранение отменено"},
};
INSTANTIATE_TEST_SUITE_P(Cases, WriteRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// The setpoint edits as the operator types into them: the key filter, the value check on
// leaving, and what each leaves in the record and on the window.
TEST_F(Editing, SetpointEditsCheckWhatIsTyped) {
    ReadDevice(2);  // ВЭК-01МЕ: both setpoints on channel 1, range 20..100 kPa
    Ui::TForm1& ui = *form1.ui;
    const QString before = ui.StUstKod1->text();
    struct Case {
        QString typed;
        const char* message;  // none when the value is taken
        const char* code;     // StUstKod1 afterwards ("" for unchanged)
        const char* shown;    // Ust1 afterwards
    };
    const Case cases[] = {
        {"10", kInputError, "", "80"},  // below the range start
        {"20", nullptr, "3276", "20"},
        {"100", nullptr, "16383", "100"},
        {"100,1", kInputError, "", "100"},
        {"-5", kInputError, "", "100"},  // passes the characters, fails the range
        {"5-", kInputError, "", "100"},
        {"-", kInputError, "", "100"},  // not "not a number"
        {"5,", kInputError, "", "100"},
        {"1,2,3", kInputError, "", "100"},
        {"50", nullptr, "8191", "50"},
    };
    for (const Case& c : cases) {
        recorder.messages.clear();
        const QString code = ui.StUstKod1->text();
        Type(ui.Ust1, c.typed);
        EXPECT_EQ(Texts(),
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{})
            << c.typed.toStdString();
        EXPECT_EQ(ui.StUstKod1->text(), *c.code ? QString(c.code) : code) << c.typed.toStdString();
        EXPECT_EQ(ui.Ust1->text(), c.shown) << c.typed.toStdString();
        EXPECT_EQ(QString::number(form1.Record.GetSetpoint1()), ui.StUstKod1->text());
    }
    EXPECT_NE(before, ui.StUstKod1->text());
}

// Keys that are not typing a number are input errors and never reach the edit; Tab and the
// window's shortcuts are not keys of the edit; the keypad's decimal key types a comma.
TEST_F(Editing, KeyFilterKeepsTheMeaningOfTheKeys) {
    ReadDevice(2);
    QLineEdit* ust = form1.ui->Ust1;
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool inputError;
        const char* textAfter;  // the edit held "12"
    };
    const Case cases[] = {
        {Qt::Key_Up, Qt::NoModifier, true, ""},
        {Qt::Key_Down, Qt::NoModifier, true, ""},
        {Qt::Key_Home, Qt::NoModifier, true, ""},
        {Qt::Key_End, Qt::NoModifier, true, ""},
        {Qt::Key_A, Qt::NoModifier, true, ""},
        {Qt::Key_Period, Qt::NoModifier, true, ""},
        {Qt::Key_Escape, Qt::NoModifier, true, ""},
        {Qt::Key_5, Qt::ShiftModifier, true, ""},
        {Qt::Key_5, Qt::KeypadModifier, false, "125"},
        {Qt::Key_Comma, Qt::NoModifier, false, "12,"},
        {Qt::Key_Period, Qt::KeypadModifier, false, "12,"},
        {Qt::Key_Minus, Qt::NoModifier, false, "12-"},
        {Qt::Key_Backspace, Qt::NoModifier, false, "1"},
        {Qt::Key_Left, Qt::ShiftModifier, false, "12"},
        {Qt::Key_Shift, Qt::ShiftModifier, false, "12"},
    };
    for (const Case& c : cases) {
        ust->setFocus(Qt::MouseFocusReason);
        ust->setText("12");
        ust->end(false);
        recorder.messages.clear();
        QTest::keyClick(ust, c.key, c.modifiers);
        EXPECT_EQ(recorder.messages.size(), c.inputError ? 1u : 0u) << c.key;
        EXPECT_EQ(ust->text(), c.textAfter) << c.key;
    }
    // The layout's own decimal comma (Shift + the slash key on a Russian keyboard).
    ust->setText("12");
    recorder.messages.clear();
    QTest::keyClick(ust, Qt::Key_Comma, Qt::ShiftModifier);
    EXPECT_TRUE(recorder.messages.empty());

    // Tab moves on without an error; a polling timer is stopped by a key in the edit only.
    ust->setText("80");
    form1.BtnPuskTimerClick();
    QTest::keyClick(ust, Qt::Key_Tab);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_NE(QApplication::focusWidget(), ust);
    EXPECT_TRUE(form1.Timer1.isActive());
    QTest::keyClick(form1.ui->Ust2, Qt::Key_1);
    EXPECT_FALSE(form1.Timer1.isActive());

    // The window's shortcuts are no input error: F9 in the edit reads the device.
    form1.ui->Ust2->setFocus(Qt::MouseFocusReason);
    form1.ui->StRez1->clear();
    QTest::keyClick(form1.ui->Ust2, Qt::Key_F9);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_FALSE(form1.ui->StRez1->text().isEmpty());
}

// Enter stores and moves on along the tab order; in an empty edit it is an input error.
TEST_F(Editing, EnterStoresAndMovesFocusOn) {
    ReadDevice(1);  // ВЭК-02МЕ: setpoint 2 on channel 2, range 0..100 kPa
    Ui::TForm1& ui = *form1.ui;
    Type(ui.Ust1, "55", Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), ui.CBoxTipK1);
    EXPECT_EQ(ui.StUstKod1->text(), "9010");
    Type(ui.Ust2, "5", Qt::Key_Enter);  // below channel 1's start, inside channel 2's range
    EXPECT_EQ(QApplication::focusWidget(), ui.CBoxTipSign2);
    EXPECT_EQ(ui.StUstKod2->text(), "819");
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];

    Type(ui.Ust2, "", Qt::Key_Return);
    EXPECT_EQ(Texts(), std::vector<std::string>{kInputError});
    EXPECT_EQ(ui.StUstKod2->text(), "819");
}

// Passing through an edit never moves the device's setpoint: the shown percentage is
// rounded, and storing it back would change the code with nothing edited. A value the operator
// types, even the one shown, is stored; a value pasted that is not a comma-decimal number is
// refused with a clear message.
TEST_F(Editing, OnlyWhatTheOperatorTypesIsStored) {
    ReadDevice(2);
    struct Case {
        int code;
        int retyped;  // the code of the shown percentage typed again
    };
    for (const Case& c : {Case{13107, 13106}, {3358, 3276}, {8192, 8191}}) {
        Device(2, [&](vsim::VirtualDevice& d) { d.SetWord(5, c.code); });
        form1.InPortClick();
        form1.ui->Ust1->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(form1.ui->Ust1, Qt::Key_Tab);
        EXPECT_EQ(form1.Record.GetSetpoint1(), c.code);
        Type(form1.ui->Ust1, form1.ui->Ust1->text());
        EXPECT_EQ(form1.Record.GetSetpoint1(), c.retyped) << c.code;
        EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
    }
    // Focus taken by another program, a popup or the menu bar is no leaving: a half-typed
    // value ("1", below the range) shows nothing and stores nothing.
    for (Qt::FocusReason reason :
         {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason, Qt::MenuBarFocusReason}) {
        form1.ui->Ust1->setFocus(Qt::MouseFocusReason);
        form1.ui->Ust1->selectAll();
        QTest::keyClick(form1.ui->Ust1, Qt::Key_1);
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(form1.ui->Ust1, &out);
        EXPECT_TRUE(recorder.messages.empty()) << reason;
        EXPECT_EQ(form1.Record.GetSetpoint1(), 8191) << reason;
    }
    form1.ui->Ust1->setFocus(Qt::MouseFocusReason);
    form1.ui->Ust1->selectAll();
    form1.ui->Ust1->insert("12.5");
    QTest::keyClick(form1.ui->Ust1, Qt::Key_Tab);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text,
              "«12.5» не является числом.\nДесятичный разделитель — запятая.");
    EXPECT_EQ(form1.Record.GetSetpoint1(), 8191);
    EXPECT_EQ(form1.ui->Ust1->text(), "50");
}

// A list's rule runs for the operator's choice only, stops polling, and marks the change;
// the read setting the lists on every tick marks nothing.
TEST_F(Editing, RulesRunOnTheOperatorsChoiceOnly) {
    ReadDevice(1);
    form1.BtnPuskTimerClick();
    form1.Timer1Timer();
    EXPECT_EQ(form1.Record.Changed, 0);
    const std::vector<uint8_t> block(form1.Record.Block().begin(), form1.Record.Block().end());
    Choose(form1.ui->CBoxTipD2, form1.ui->CBoxTipD2->currentIndex());  // the item it holds
    EXPECT_FALSE(form1.Timer1.isActive());
    EXPECT_EQ(form1.Record.Changed, 1);
    EXPECT_EQ(std::vector<uint8_t>(form1.Record.Block().begin(), form1.Record.Block().end()),
              block);
    EXPECT_EQ(form1.Record.LastCombo, form1.ui->CBoxTipD2);
}

// A device still storing past the 2000 ms wait refuses the confirmation: the block is stored,
// the new number taken, the change marker stays for a repeat.
TEST_F(Editing, DeviceBusyPastTheWaitIsReported) {
    ReadDevice(1);
    Device(1, [](vsim::VirtualDevice& d) { d.SetBusyTime(std::chrono::seconds(5)); });
    Choose(form1.ui->CBoxTipK1, 1);
    form1.OutPortClick();
    EXPECT_EQ(Texts(), std::vector<std::string>{"устройство 1 " + server.PortPath() +
                                                " Идет запись базы данных. Ждите."});
    EXPECT_EQ(BlocksStored(1), 1);
    EXPECT_EQ(form1.Record.Changed, 1);
}

// Closing with unsent changes: Yes writes; a write that fails still lets the window close,
// and the close sequence runs once whatever asks again.
TEST_F(Editing, CloseOffersTheChangesAndClosesOnce) {
    ReadDevice(1);
    Choose(form1.ui->CBoxTipK1, 1);
    form1.Link.SetStage1Attempts(1);
    Device(1, [](vsim::VirtualDevice& d) { d.faults.silent = true; });
    recorder.answers = {MessageAnswer::Yes};
    form1.close();
    form1.close();
    EXPECT_EQ(Texts(), (std::vector<std::string>{
                           "Данные были изменены. Передать?",
                           "устройство 1 " + server.PortPath() + " не отвечает на запрос",
                           "Работа закончена"}));
    EXPECT_FALSE(form1.isVisible());
    EXPECT_FALSE(form1.ComPort1.Connected());
}

// Yes to the port command's question writes through the port the device was read through,
// which the dialog had closed, then moves to the new port.
TEST_F(Editing, PortCommandSavesThroughTheOldPort) {
    PtyPair other;
    TFormNastr formNastr(form1.Link);
    TFormPort formPort(form1.Link, formNastr);
    form1.FormPort = &formPort;
    formPort.PortLister = [&] { return std::vector<std::string>{other.SlavePath()}; };
    ReadDevice(1);
    Choose(form1.ui->CBoxBreak1, 1);
    recorder.answers = {MessageAnswer::Yes};
    // A polling tick that the dialog's event loop delivers reads nothing: the dialog has
    // closed the port, and a failed read would clear the block the question offers to save.
    DialogScript script(formPort, {[this](QDialog& d) {
                            form1.Timer1Timer();
                            static_cast<TFormPort&>(d).ui->OK->click();
                        }});
    form1.PortClick();
    EXPECT_EQ(Texts(),
              std::vector<std::string>{"устройство 1 - база данных была изменена,\nСохранить?"});
    EXPECT_EQ(BlocksStored(1), 1);
    EXPECT_EQ(BlockOf(1)[4] & 0x04, 0x04);
    EXPECT_EQ(form1.Link.PortName, other.SlavePath());
    EXPECT_TRUE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.Record.DataRead, 0);
}

// ---- On a scripted line with a fake clock ----

class ScriptedWrite : public ::testing::Test {
  protected:
    ScriptedWrite() : form1(MakeBackend(), clock) {
        form1.ComPort1.Open();
        form1.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form1));
        device.block[20] = 0xA5;  // past the known fields: goes back as it came
        form1.InPortClick();
        form1.Record.Changed = 1;
    }
    std::unique_ptr<ComPortBackend> MakeBackend() {
        auto backend = std::make_unique<ScriptedBackend>();
        backend->clock = &clock;
        backend->responder = [this](const Bytes& request) {
            writeTimesMs.push_back(clock.NowMs());
            return device.Answer(request);
        };
        return backend;
    }

    FakeClock clock;
    ScriptedDevice device;
    std::vector<int64_t> writeTimesMs;
    MessageRecorder recorder;
    TForm1 form1;
};

// The progress bar is painted at each step though the window is blocked; the confirmation
// comes 2000 ms after the block; the block goes out as read, bytes past the known fields too.
TEST_F(ScriptedWrite, ProgressIsPaintedAtEachStepAndTheDeviceGetsItsStoreTime) {
    struct PaintRecorder : QObject {
        std::vector<int> values;
        bool eventFilter(QObject* watched, QEvent* event) override {
            const int value = static_cast<QProgressBar*>(watched)->value();
            if (event->type() == QEvent::Paint && (values.empty() || values.back() != value))
                values.push_back(value);
            return false;
        }
    } painted;
    form1.ui->ProgressBar1->installEventFilter(&painted);
    device.functions.clear();
    writeTimesMs.clear();
    form1.OutPortClick();
    EXPECT_EQ(painted.values, (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(device.functions, (std::vector<uint8_t>{17, 69, 14, 17, 68, 71}));
    ASSERT_EQ(device.blocksWritten.size(), 1u);
    EXPECT_EQ(device.blocksWritten[0], device.block);
    EXPECT_GE(writeTimesMs[2] - writeTimesMs[1], 2000);
    EXPECT_EQ(form1.Record.Changed, 0);
}

// Polling ticks that the write's message boxes deliver start no read, and polling that ran
// before a successful write still runs after it.
TEST_F(ScriptedWrite, NoTickReadsWhileTheWriteIsUnderWay) {
    form1.BtnPuskTimerClick();
    device.type = 105;  // the type message opens a box
    size_t readsDuringBoxes = 0;
    SetMessageResponder([&](const OperatorMessage&) {
        const size_t before = device.functions.size();
        form1.Timer1Timer();
        readsDuringBoxes += device.functions.size() - before;
        return MessageAnswer::Ok;
    });
    form1.OutPortClick();
    EXPECT_EQ(readsDuringBoxes, 0u);
    EXPECT_TRUE(form1.Timer1.isActive());

    device.type = 106;
    form1.OutPortClick();
    EXPECT_TRUE(form1.Timer1.isActive());
    EXPECT_EQ(device.blocksWritten.size(), 1u);
}

}  // namespace
