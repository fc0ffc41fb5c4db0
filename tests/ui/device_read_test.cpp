// The device read, polling and the device choice on the real main window: against the
// simulator serving a pseudo-terminal, and against a scripted device where a reply must be
// exact to the byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include "line_server.h"
#include "scripted_device.h"
#include "support/message_recorder.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

// ---- Against the simulator ----

class SimulatedLine : public ::testing::Test {
  protected:
    SimulatedLine() {
        QLocale::setDefault(QLocale::c());
        server.WithLine([](vsim::VirtualLine& line) {
            line.SetTurnaroundMs(1);
            for (auto [address, type] : {std::pair{1, 106}, {2, 105}, {3, 104}}) {
                line.Add(address, static_cast<uint8_t>(type))->SetNoise(0);
            }
        });
        server.Start();
        form1.Link.PortName = server.PortPath();
        EXPECT_EQ(form1.Link.OpenPort(), 0);
    }

    // A device missing from the line fails the test (GoogleTest reports the exception)
    // instead of crashing the test program.
    vsim::VirtualDevice& Found(vsim::VirtualLine& line, int address) {
        vsim::VirtualDevice* device = line.Find(address);
        if (!device) throw std::runtime_error("no device at " + std::to_string(address));
        return *device;
    }
    template <class F>
    void Device(int address, F&& change) {
        server.WithLine([&](vsim::VirtualLine& line) { change(Found(line, address)); });
    }
    std::vector<uint8_t> BlockOf(int address) {
        return server.WithLine(
            [&](vsim::VirtualLine& line) { return Found(line, address).Block(); });
    }
    void Choose(int number) { form1.CBoxUstrClick(number - 1); }

    vsim::LineServer server;
    MessageRecorder recorder;
    TForm1 form1;
};

TEST_F(SimulatedLine, ReadsATwoChannelDeviceAndLaysTheWindowOut) {
    form1.show();
    form1.InPortClick();
    ASSERT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
    Ui::TForm1& ui = *form1.ui;
    EXPECT_EQ(form1.Record.TypeCode, 106);
    EXPECT_EQ(ui.Panel1->text(), "ВЭК-02МЕ  735218.004-04  ПО.V1  0x2C74E9A6");
    for (QWidget* w : {static_cast<QWidget*>(ui.LabReg), static_cast<QWidget*>(ui.GBoxKanal),
                       static_cast<QWidget*>(ui.GBoxSign2), static_cast<QWidget*>(ui.GBoxKanal2),
                       static_cast<QWidget*>(ui.LabBreak2), static_cast<QWidget*>(ui.CBoxBreak2)}) {
        EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();
    }
    EXPECT_EQ(ui.Label27->text(), "привилегированный");
    EXPECT_TRUE(ui.KalibrBegSk1->isEnabled());
    EXPECT_TRUE(ui.CBoxCurrentEnd2->isEnabled());

    // The values are the device's own.
    std::vector<uint8_t> block = BlockOf(1);
    auto word = [&](size_t at) { return QString::number(int16_t(block[at] | block[at + 1] << 8)); };
    EXPECT_EQ(ui.StKBegSk1->text(), word(0));
    EXPECT_EQ(ui.StKEndSk2->text(), word(13));
    EXPECT_EQ(ui.StUstKod1->text(), word(5));
    EXPECT_EQ(ui.CBoxTipD2->currentIndex(), (block[9] >> 1) & 1);
    EXPECT_EQ(ui.CBoxMin2->currentIndex(), (block[10] >> 1) & 1);
    EXPECT_EQ(ui.CBoxCurrent2->currentIndex(), block[16] >> 4);
    EXPECT_EQ(form1.Record.RangeStart2, block[10] & 2 ? 0.0f : 20.0f);
    EXPECT_EQ(form1.Record.RangeEnd1, 100.0f);
    EXPECT_FALSE(ui.StRez2->text().isEmpty());
    EXPECT_EQ(ui.StSost1->text(), "000");
    EXPECT_EQ(ui.Label18->text(), "       Норма");
    EXPECT_EQ(form1.Record.DataRead, 1);
    EXPECT_EQ(form1.Record.Changed, 0);
}

TEST_F(SimulatedLine, AnotherTypeAtTheSameNumberRedoesTheLayout) {
    Device(1, [](vsim::VirtualDevice& d) { d.SetBit(4, 0x10, true); });  // setpoint 2 "нз"
    form1.show();
    form1.InPortClick();
    ASSERT_EQ(form1.ui->CBoxTipK2->currentIndex(), 1);

    Device(1, [](vsim::VirtualDevice& d) { d.SetType(105); });
    form1.InPortClick();
    Ui::TForm1& ui = *form1.ui;
    EXPECT_EQ(ui.Panel1->text(), "ВЭК-01МЕ  735218.004-03  ПО.V1  0x5E31C08B");
    EXPECT_FALSE(ui.GBoxKanal2->isVisible());
    EXPECT_FALSE(ui.LabBreak2->isVisible());
    EXPECT_FALSE(ui.CBoxBreak2->isVisible());
    EXPECT_TRUE(ui.GBoxSign2->isVisible());
    EXPECT_EQ(ui.CBoxTipK2->currentText(), "нр");  // reset, and not filled for one channel

    Device(1, [](vsim::VirtualDevice& d) { d.SetType(106); });
    form1.InPortClick();
    EXPECT_TRUE(ui.GBoxKanal2->isVisible());
    EXPECT_EQ(ui.CBoxTipK2->currentText(), "нз");
}

// Each measurement box fills its place, also after the window's size changes.
TEST_F(SimulatedLine, SecondReadRefreshesValuesWithoutRedoingTheLayout) {
    form1.show();
    form1.InPortClick();
    form1.ui->Panel1->setText("kept");
    form1.ui->GBoxKanal2->hide();
    Device(1, [](vsim::VirtualDevice& d) { d.SetPressure(1, 33.0); });
    const QString before = form1.ui->StKodACP1->text();
    form1.InPortClick();
    EXPECT_EQ(form1.ui->Panel1->text(), "kept");
    EXPECT_FALSE(form1.ui->GBoxKanal2->isVisible());
    EXPECT_NE(form1.ui->StKodACP1->text(), before);
    EXPECT_EQ(form1.ui->StKodACP1->text(),
              QString::number(vsim::VirtualDevice::AdcForPressure(33.0)));

    QLabel* const boxes[] = {form1.ui->StRez1, form1.ui->StKodACP1, form1.ui->StRezKPa1,
                             form1.ui->StRezProc1};
    form1.resize(form1.width() + 200, form1.height() + 50);
    QApplication::processEvents();
    for (QLabel* box : boxes) {
        SCOPED_TRACE(box->objectName().toStdString());
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(box->geometry(), box->parentWidget()->rect());
        EXPECT_GE(box->width(), box->minimumWidth());
        EXPECT_GE(box->height(), box->minimumHeight());
    }
}

TEST_F(SimulatedLine, NonPrivilegedDeviceLocksTheProgrammingControls) {
    Device(1, [](vsim::VirtualDevice& d) { d.SetPrivileged(false); });
    form1.InPortClick();
    Ui::TForm1& ui = *form1.ui;
    EXPECT_EQ(ui.Label27->text(), "непривилегированный");
    EXPECT_TRUE(ui.Label27->styleSheet().contains("#000080"));
    for (QWidget* w : {static_cast<QWidget*>(ui.KalibrBegSk1), static_cast<QWidget*>(ui.CBoxTipD1),
                       static_cast<QWidget*>(ui.CBoxMax2), static_cast<QWidget*>(ui.CBoxCurrent1),
                       static_cast<QWidget*>(ui.CBoxCurrentEnd2)}) {
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    EXPECT_TRUE(ui.Ust1->isEnabled());
    EXPECT_TRUE(ui.CBoxTipSign2->isEnabled());

    Device(1, [](vsim::VirtualDevice& d) { d.SetPrivileged(true); });
    form1.InPortClick();
    EXPECT_EQ(ui.Label27->text(), "привилегированный");
    EXPECT_TRUE(ui.Label27->styleSheet().contains("#ff0000"));
    EXPECT_TRUE(ui.KalibrBegSk1->isEnabled());
}

TEST_F(SimulatedLine, OtherModelsGetAWarningAndTheWindowStaysAsItWas) {
    form1.show();
    form1.InPortClick();
    const QString rez = form1.ui->StRez1->text();
    Device(1, [](vsim::VirtualDevice& d) {
        d.SetType(104);
        d.SetPressure(1, 80.0);
    });
    form1.InPortClick();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text,
              "устройство 1 -  не ВЭК-01МЕ и не ВЭК-02МЕ\nДанные не считаны");
    EXPECT_EQ(recorder.messages[0].caption, "Предупреждение");
    EXPECT_EQ(recorder.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(form1.ui->Panel1->text(), "ВЭК-02МЕ  735218.004-04  ПО.V1  0x2C74E9A6");
    EXPECT_TRUE(form1.ui->GBoxKanal2->isVisible());
    EXPECT_EQ(form1.ui->StRez1->text(), rez);
    EXPECT_EQ(form1.Record.DataRead, 0);  // the record holds the other model's block now

    form1.ui->CBoxUstr->setCurrentIndex(2);
    Choose(3);
    Device(3, [](vsim::VirtualDevice& d) { d.SetType(255); });
    form1.InPortClick();
    ASSERT_FALSE(recorder.messages.empty());
    EXPECT_EQ(recorder.messages.back().text,
              "устройство 3 - не определен тип прибора\nДанные не считаны");
}

TEST_F(SimulatedLine, PollingRepeatsTheReadAndStopsOnceOnAFailure) {
    form1.show();
    form1.BtnPuskTimerClick();
    EXPECT_TRUE(form1.Timer1.isActive());
    EXPECT_EQ(form1.ReportErrors, 0);
    EXPECT_TRUE(form1.ui->LabTimer->isVisible());

    form1.Timer1Timer();  // a tick, without waiting 3 s
    EXPECT_EQ(form1.Record.DataRead, 1);
    EXPECT_TRUE(recorder.messages.empty());

    form1.Link.SetStage1Attempts(1);
    Device(1, [](vsim::VirtualDevice& d) { d.faults.silent = true; });
    form1.Timer1Timer();
    EXPECT_FALSE(form1.Timer1.isActive());
    EXPECT_FALSE(form1.ui->LabTimer->isVisible());
    EXPECT_EQ(form1.ReportErrors, 1);
    ASSERT_EQ(recorder.messages.size(), 1u);  // reported once, after polling stopped
    EXPECT_EQ(recorder.messages[0].text,
              "устройство 1 " + server.PortPath() + " не отвечает на запрос");
    EXPECT_EQ(form1.Record.DataRead, 0);  // the cleared block may not be written back
}

// The simulator going away in the middle of polling, with unsent changes: polling stops, the
// operator is told once what happened, and the window closes without offering a write that
// could only fail too; nothing polls on meanwhile.
TEST_F(SimulatedLine, PortLostWhilePollingSaysSoOnceAndCloses) {
    form1.show();
    form1.InPortClick();
    form1.Record.Changed = 1;
    form1.BtnPuskTimerClick();
    server.Stop();
    form1.Timer1Timer();
    EXPECT_FALSE(form1.Timer1.isActive());
    EXPECT_FALSE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.Record.DataRead, 0);
    QTest::qWait(20);  // the close the failure asked for
    std::vector<std::string> texts;
    for (const OperatorMessage& m : recorder.messages)
        texts.push_back(m.text);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "COM-порт отключен. Проверьте оборудование, перезапустите программу.",
                         "Работа закончена"}));
    EXPECT_FALSE(form1.isVisible());
}

TEST_F(SimulatedLine, ButtonTwiceReturnsToStopped) {
    form1.show();
    form1.ui->BtnPuskTimer->click();
    form1.ui->BtnPuskTimer->click();
    EXPECT_FALSE(form1.Timer1.isActive());
    EXPECT_EQ(form1.ReportErrors, 1);
    EXPECT_FALSE(form1.ui->LabTimer->isVisible());
}

TEST_F(SimulatedLine, ChoosingAnotherDeviceForgetsTheOldOne) {
    form1.show();
    form1.InPortClick();
    form1.BtnPuskTimerClick();
    Choose(1);  // the same number: nothing, polling goes on
    EXPECT_TRUE(form1.Timer1.isActive());

    form1.ui->CBoxUstr->setCurrentIndex(1);
    Choose(2);
    EXPECT_FALSE(form1.Timer1.isActive());
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(form1.ui->Panel1->text(), "");
    EXPECT_FALSE(form1.ui->GBoxKanal->isVisible());
    EXPECT_EQ(form1.Record.DeviceNumber, 1);
    EXPECT_EQ(form1.Record.DataRead, 0);
    form1.InPortClick();
    EXPECT_EQ(form1.Record.TypeCode, 105);
    EXPECT_FALSE(form1.ui->GBoxKanal2->isVisible());
}

TEST_F(SimulatedLine, CancelledChoiceKeepsTheDevice) {
    form1.InPortClick();
    form1.Record.Changed = 1;
    recorder.answers = {MessageAnswer::Cancel};
    form1.ui->CBoxUstr->setCurrentIndex(4);
    Choose(5);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "устройство 1 - база данных была изменена,\nСохранить?");
    EXPECT_EQ(form1.ui->CBoxUstr->currentText(), "1");
    EXPECT_EQ(form1.Record.TypeCode, 106);
    EXPECT_EQ(form1.Record.Changed, 1);

    recorder.answers = {MessageAnswer::No};
    form1.ui->CBoxUstr->setCurrentIndex(4);
    Choose(5);
    EXPECT_EQ(form1.ui->CBoxUstrZ->currentText(), "5");
    EXPECT_EQ(form1.Record.Changed, 0);
    EXPECT_EQ(form1.Record.DeviceNumber, 4);
}

TEST_F(SimulatedLine, ClosedPortIsReported) {
    form1.Link.ClosePort();
    form1.InPortClick();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Не выбран COM-порт.");
    EXPECT_EQ(recorder.messages[0].caption, "Ошибка");
}

// ---- Against a scripted device, byte for byte ----

class ScriptedLine : public ::testing::Test {
  protected:
    ScriptedLine() : form1(MakeBackend(), clock) {
        QLocale::setDefault(QLocale(QLocale::Russian));
        form1.Link.SetStage1Attempts(1);
        form1.Link.SetStage2Attempts(1);
        form1.ComPort1.Open();
    }
    std::unique_ptr<ComPortBackend> MakeBackend() {
        auto backend = std::make_unique<ScriptedBackend>();
        backend->clock = &clock;
        backend->responder = [this](const Bytes& request) { return device.Answer(request); };
        return backend;
    }

    FakeClock clock;
    ScriptedDevice device;
    MessageRecorder recorder;
    TForm1 form1;
};

TEST_F(ScriptedLine, ResultsAtTheThresholdHaveNoPressure) {
    device.Measure(-200, 0);
    form1.InPortClick();
    EXPECT_EQ(form1.ui->StRez1->text(), "-200");
    EXPECT_EQ(form1.ui->StRezKPa1->text(), "0");
    EXPECT_EQ(form1.ui->StRezProc1->text(), "-1,22");

    device.Measure(-199, 0);
    form1.InPortClick();
    EXPECT_EQ(form1.ui->StRezKPa1->text(), "19,03");
}

TEST_F(ScriptedLine, StateIndicatorsShowTheirBitsOnTealOrRed) {
    struct Case {
        uint8_t status;
        const char* sost;
        const char* sostLabel;
        const char* nar;
        const char* narLabel;
    };
    const Case cases[] = {
        {0x20, "001", "       Ошибка", "00", "     Норма"},
        {0x02, "000", "       Норма", "10", "Нарушение"},
        {0x1C, "000", "       Норма", "00", "     Норма"},
        {0xE3, "111", "       Ошибка", "11", "Нарушение"},
    };
    for (const Case& c : cases) {
        device.Measure(100, c.status, c.status);
        form1.InPortClick();
        Ui::TForm1& ui = *form1.ui;
        EXPECT_EQ(ui.StSost1->text(), c.sost) << int{c.status};
        EXPECT_EQ(ui.Label18->text(), c.sostLabel);
        EXPECT_EQ(ui.StNar1->text(), c.nar);
        EXPECT_EQ(ui.Label19->text(), c.narLabel);
        EXPECT_EQ(ui.StNar2->text(), c.nar);
        EXPECT_EQ(ui.StSost2->text(), c.sost);
        const bool red = QString(c.sost).contains('1');
        EXPECT_TRUE(ui.StSost1->styleSheet().contains(red ? "#ff0000" : "#008080"));
        EXPECT_TRUE(ui.Label18->styleSheet().contains(red ? "#ff0000" : "#008080"));
    }
}

TEST_F(ScriptedLine, SetpointsAndItemsComeFromTheBlock) {
    device.type = 105;
    device.block[4] = 0x1F;  // both alarm types H, break max, both contacts "нз"
    device.block[5] = 0xFF;  // setpoint 1 = 16383
    device.block[6] = 0x3F;
    device.block[7] = 245;  // setpoint 2 = 245 ≈ 1,5 %
    device.block[15] = 0x9F;
    form1.InPortClick();
    Ui::TForm1& ui = *form1.ui;
    EXPECT_EQ(ui.StUstKod1->text(), "16383");
    EXPECT_EQ(ui.Ust1->text(), "100");
    EXPECT_EQ(ui.StUstKod2->text(), "245");
    EXPECT_EQ(ui.Ust2->text(), "1");
    EXPECT_EQ(ui.CBoxTipSign1->currentText(), "H");
    EXPECT_EQ(ui.CBoxTipSign2->currentText(), "H");
    EXPECT_EQ(ui.CBoxBreak1->currentText(), "ток max");
    EXPECT_EQ(ui.CBoxTipK1->currentText(), "нз");
    EXPECT_EQ(ui.CBoxTipK2->currentText(), "нр");
    EXPECT_EQ(ui.CBoxCurrent1->currentText(), "- 8 мкА");
    EXPECT_EQ(ui.CBoxCurrentEnd1->currentText(), "-40 мкА");
    EXPECT_EQ(form1.Record.Changed, 0);
}

TEST_F(ScriptedLine, FailedReadLeavesNoBlockToWriteBack) {
    form1.InPortClick();
    ASSERT_EQ(form1.Record.DataRead, 1);
    device.silentTo68 = true;
    form1.InPortClick();
    EXPECT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(form1.Record.DataRead, 0);
    // The window still shows the last complete read.
    EXPECT_EQ(form1.ui->Panel1->text(), "ВЭК-02МЕ  735218.004-04  ПО.V1  0x2C74E9A6");
}

// A block is shown and written back only when it came whole from the number asked. One too
// short or too long for the record, or one that names another device (whose measurements and
// whose write would then go to that number), fails the read; no request goes to its number,
// and the next F10 has no block to send.
TEST_F(ScriptedLine, BlockMustComeWholeFromTheNumberAsked) {
    const std::string foreign = "устройство 1 COM1 передало базу данных устройства ";
    const std::string receiveError = "устройство 1 COM1 ошибка приема данных ";
    const char* const noData = "Нет данных о приборе,\nпроизведите ввод информации с СОМ порта";
    struct Case {
        size_t length;
        uint8_t number;       // at offset 17
        std::string message;  // of the read; none when the block is taken
    };
    const Case cases[] = {
        {22, 0, ""},
        {18, 0, ""},
        {30, 0, ""},
        {22, 4, foreign + "5\nДанные не считаны"},
        {22, 31, foreign + "32\nДанные не считаны"},
        {22, 32, foreign + "33\nДанные не считаны"},
        {22, 255, foreign + "256\nДанные не считаны"},
        {31, 0, receiveError},
        {17, 0, receiveError},
        {0, 0, receiveError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " bytes, number " + std::to_string(c.number));
        device.block = Bytes(22, 0);
        form1.InPortClick();
        ASSERT_EQ(form1.Record.DataRead, 1);
        device.addresses.clear();
        device.functions.clear();
        recorder.messages.clear();
        device.block = Bytes(c.length, 0);
        if (c.length > 17) device.block[17] = c.number;

        form1.InPortClick();
        EXPECT_EQ(form1.Record.DataRead, c.message.empty());
        form1.OutPortClick();
        const std::vector<std::string> expected = c.message.empty()
                                                      ? std::vector<std::string>{}
                                                      : std::vector<std::string>{c.message, noData};
        std::vector<std::string> texts;
        for (const OperatorMessage& m : recorder.messages)
            texts.push_back(m.text);
        EXPECT_EQ(texts, expected);
        EXPECT_EQ(std::count(device.addresses.begin(), device.addresses.end(), 1),
                  static_cast<long>(device.addresses.size()));
        EXPECT_EQ(form1.Record.DeviceNumber, 0);
        EXPECT_LE(form1.Record.GetBlockLength(), 30);
        const bool wrote = std::count(device.functions.begin(), device.functions.end(), 69) > 0;
        EXPECT_EQ(wrote, c.message.empty());
    }
}

TEST_F(ScriptedLine, TicksAreHeldOffWhileAWarningIsOpen) {
    device.type = 104;
    int readsDuringWarning = 0;
    SetMessageResponder([&](const OperatorMessage&) {
        size_t before = device.addresses.size();
        form1.Timer1Timer();  // a tick delivered by the warning's message loop
        readsDuringWarning += device.addresses.size() != before;
        return MessageAnswer::Ok;
    });
    form1.InPortClick();
    EXPECT_EQ(readsDuringWarning, 0);
}

}  // namespace
