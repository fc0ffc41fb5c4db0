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
#include "scripted_device.h"
#include "support/message_recorder.h"
#include "support/pty_pair.h"
#include "support/short_wait_clock.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"
#include "ui_Obrport.h"

namespace {

const char* const kNoData = "Нет данных о приборе,\nпроизведите ввод информации с СОМ порта";
const char* const kInputError = " Ошибка ввода ";

// The operator's choice of an item in a closed list.
void Choose(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

class Editing : public ::testing::Test {
  public:
    Editing() : form1(nullptr, clock) {
        QLocale::setDefault(QLocale::c());
        server.WithLine([](vsim::VirtualLine& line) {
            line.SetTurnaroundMs(1);
            for (auto [address, type] : {std::pair{1, 106}, {2, 105}}) {
                vsim::VirtualDevice* d = line.Add(address, static_cast<uint8_t>(type));
                d->SetNoise(0);
                d->SetBusyTime(std::chrono::milliseconds(10));
            }
        });
        server.Start();
        form1.Link.PortName = server.PortPath();
        EXPECT_EQ(form1.Link.OpenPort(), 0);
        form1.show();
        QApplication::setActiveWindow(&form1);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form1));
    }

    template <class F>
    auto Device(int address, F&& f) {
        return server.WithLine([&](vsim::VirtualLine& line) { return f(*line.Find(address)); });
    }
    std::vector<uint8_t> BlockOf(int address) {
        return Device(address, [](vsim::VirtualDevice& d) { return d.Block(); });
    }
    int BlocksStored(int address) {
        return Device(address, [](vsim::VirtualDevice& d) { return d.BlocksStored(); });
    }
    void ReadDevice(int number) {
        form1.ui->CBoxUstr->setCurrentIndex(number - 1);
        form1.CBoxUstrClick(number - 1);
        form1.InPortClick();
        ASSERT_EQ(form1.Record.DataRead, 1);
        recorder.messages.clear();
    }
    // Types a text into a setpoint edit that has the focus, then the key that leaves it.
    void Type(QLineEdit* edit, const QString& text, Qt::Key leave = Qt::Key_Tab) {
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, leave);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const OperatorMessage& m : recorder.messages)
            texts.push_back(m.text);
        return texts;
    }

    vsim::LineServer server;
    MessageRecorder recorder;
    ShortWaitClock clock;
    TForm1 form1;
};

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

// Renumbering: the block goes to the old address, the confirmation and the read to the new.
TEST_F(Editing, RenumberedDeviceIsConfirmedAndReadAtItsNewNumber) {
    ReadDevice(1);
    form1.Record.NewDeviceNumber = 4;  // as the new-number selector leaves the record
    form1.Record.SetDeviceNumberByte(4);
    form1.ui->AOutPort->trigger();
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
    EXPECT_EQ(BlockOf(5)[17], 4);
    EXPECT_EQ(form1.Record.DeviceNumber, 4);
    EXPECT_EQ(form1.ui->CBoxUstr->currentText(), "5");
    EXPECT_EQ(form1.Record.DataRead, 1);
    EXPECT_GE(clock.SkippedMs(), 1900);  // the store wait
}

// Every way to a record that does not hold a whole block of the device on the line ends
// before a block is sent, with a clear message.
struct Refusal {
    const char* name;
    void (*prepare)(Editing&);
    const char* message;
};

class WriteRefusal : public Editing, public ::testing::WithParamInterface<Refusal> {};

TEST_P(WriteRefusal, SendsNoBlock) {
    GetParam().prepare(*this);
    recorder.messages.clear();
    form1.OutPortClick();
    EXPECT_EQ(Texts(), std::vector<std::string>{GetParam().message});
    EXPECT_EQ(BlocksStored(1) + BlocksStored(2), 0);
    EXPECT_FALSE(form1.ui->ProgressBar1->isVisible());
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

}  // namespace
