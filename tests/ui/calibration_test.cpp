// Calibration of the scale ends and the output trim as an operator meets them: the buttons and
// lists of the real window, the questions answered, and the simulator's stored block checked
// byte for byte.
#include <QAbstractItemView>
#include <QLabel>
#include <QPushButton>

#include "window_on_line.h"

namespace {

const char* const kStartQuestion =
    "Внимание! Сейчас будет произведена калибровка\nначала шкалы измерения \nУбедитесь, подан "
    "ли на вход сигнал,\nсоответствующий началу шкалы?";
const char* const kEndQuestion =
    "Внимание! Сейчас будет произведена калибровка\nконца шкалы измерения \nУбедитесь, подан "
    "ли на вход сигнал,\nсоответствующий концу шкалы?";

struct ScaleEnd {
    const char* name;
    QPushButton* Ui::TForm1::*button;
    QLabel* Ui::TForm1::*codeField;
    QLabel* Ui::TForm1::*modeLabel;
    size_t offset;  // of the scale end's code in the block
    int16_t code;   // the channel's present ADC code
    const char* question;
    MessageAnswer answer;
};

// The ВЭК-02МЕ at number 1, read, with fixed ADC codes on both channels.
class CalibratedDevice : public WindowOnLine {
  public:
    CalibratedDevice() {
        Device(1, [](vsim::VirtualDevice& d) {
            d.fixedMeasurement = vsim::Measurement{{100, 200}, {0, 0}, {4321, -1234}};
        });
        ReadDevice(1);
    }
    bool CalibrationMode() {
        return Device(1, [](vsim::VirtualDevice& d) { return d.CalibrationMode(); });
    }
    void RefuseEverything(bool refuse) {
        Device(1, [=](vsim::VirtualDevice& d) { d.faults.exceptionCode = refuse ? 2 : -1; });
    }
    std::string Refused() const {
        return "устройство 1 " + form1.Link.PortName + " ошибка обмена 02";
    }
};

class Calibration : public CalibratedDevice, public ::testing::WithParamInterface<ScaleEnd> {};

// Yes stores the present code at its scale end only and writes it; No switches the mode off
// again and changes nothing. The device is in calibration mode while the question is open.
TEST_P(Calibration, StoresThePresentCodeAtItsScaleEnd) {
    const ScaleEnd& c = GetParam();
    Ui::TForm1& ui = *form1.ui;
    std::vector<uint8_t> expected = BlockOf(1);
    const QString fieldBefore = (ui.*c.codeField)->text();
    bool modeOnWhileAsked = false;
    SetMessageResponder([&](const OperatorMessage& m) {
        recorder.messages.push_back(m);
        modeOnWhileAsked = CalibrationMode();
        return c.answer;
    });
    (ui.*c.button)->click();

    ASSERT_EQ(recorder.messages.size(), 1u) << Texts().back();
    EXPECT_EQ(recorder.messages[0].text, c.question);
    EXPECT_EQ(recorder.messages[0].caption, "Подтвердите готовность к калибровке шкалы");
    EXPECT_EQ(recorder.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(modeOnWhileAsked);
    EXPECT_FALSE(CalibrationMode());
    EXPECT_FALSE((ui.*c.modeLabel)->isVisible());
    if (c.answer == MessageAnswer::Yes) {
        expected[c.offset] = static_cast<uint8_t>(c.code & 0xFF);
        expected[c.offset + 1] = static_cast<uint8_t>((c.code >> 8) & 0xFF);
        EXPECT_EQ(BlocksStored(1), 1);
        EXPECT_EQ((ui.*c.codeField)->text(), QString::number(c.code));
        EXPECT_EQ(form1.Record.Changed, 0);
        EXPECT_EQ(QApplication::focusWidget(), ui.*c.button);
    } else {
        EXPECT_EQ(BlocksStored(1), 0);
        EXPECT_EQ((ui.*c.codeField)->text(), fieldBefore);
    }
    EXPECT_EQ(BlockOf(1), expected);
}

const ScaleEnd kScaleEnds[] = {
    {"Start1", &Ui::TForm1::KalibrBegSk1, &Ui::TForm1::StKBegSk1, &Ui::TForm1::LabRegKalibr, 0,
     4321, kStartQuestion, MessageAnswer::Yes},
    {"End1", &Ui::TForm1::KalibrEndSk1, &Ui::TForm1::StKEndSk1, &Ui::TForm1::LabRegKalibr, 2, 4321,
     kEndQuestion, MessageAnswer::Yes},
    {"Start2", &Ui::TForm1::KalibrBegSk2, &Ui::TForm1::StKBegSk2, &Ui::TForm1::LabRegKalibrTXC, 11,
     -1234, kStartQuestion, MessageAnswer::Yes},
    {"End2", &Ui::TForm1::KalibrEndSk2, &Ui::TForm1::StKEndSk2, &Ui::TForm1::LabRegKalibrTXC, 13,
     -1234, kEndQuestion, MessageAnswer::Yes},
    {"End2No", &Ui::TForm1::KalibrEndSk2, &Ui::TForm1::StKEndSk2, &Ui::TForm1::LabRegKalibrTXC, 13,
     -1234, kEndQuestion, MessageAnswer::No},
};
INSTANTIATE_TEST_SUITE_P(Cases, Calibration, ::testing::ValuesIn(kScaleEnds),
                         [](const auto& info) { return std::string(info.param.name); });

// A failed command is shown even while polling runs, and a failed read inside a calibration
// stores and writes nothing: the calibration has not ended, and its label says so.
TEST_F(CalibratedDevice, FailuresAreShownAndStoreNothing) {
    Ui::TForm1& ui = *form1.ui;
    for (bool polling : {true, false}) {
        SCOPED_TRACE(polling ? "polling" : "not polling");
        if (polling) form1.BtnPuskTimerClick();
        RefuseEverything(true);
        ui.LabRegKalibr->hide();
        recorder.messages.clear();
        ui.KalibrBegSk1->click();
        EXPECT_EQ(Texts(), std::vector<std::string>{Refused()});
        EXPECT_TRUE(ui.LabRegKalibr->isVisible());
        EXPECT_EQ(form1.Timer1.isActive(), polling);
        form1.StopPollingIfRunning();
        RefuseEverything(false);
        // The link takes an exception reply's header only; its checksum bytes must pass
        // before the next exchange empties the port.
        QTest::qWait(50);
    }

    ui.LabRegKalibr->hide();
    const QString codeBefore = ui.StKEndSk1->text();
    SetMessageResponder([&](const OperatorMessage& m) {
        recorder.messages.push_back(m);
        RefuseEverything(true);
        return MessageAnswer::Yes;
    });
    recorder.messages.clear();
    ui.KalibrEndSk1->click();
    ASSERT_EQ(Texts().size(), 2u);
    EXPECT_EQ(Texts()[0], kEndQuestion);
    EXPECT_EQ(Texts()[1].rfind("устройство 1 ", 0), 0u) << Texts()[1];  // the read's report
    EXPECT_EQ(BlocksStored(1), 0);
    EXPECT_EQ(ui.StKEndSk1->text(), codeBefore);
    EXPECT_TRUE(ui.LabRegKalibr->isVisible());

    // A write that fails after the block went out (the device still busy past the store
    // wait) has not ended the calibration either, and its code stays offered for the close.
    RefuseEverything(false);
    QTest::qWait(50);
    Device(1, [](vsim::VirtualDevice& d) { d.SetBusyTime(std::chrono::seconds(5)); });
    SetMessageResponder([&](const OperatorMessage& m) {
        recorder.messages.push_back(m);
        return MessageAnswer::Yes;
    });
    recorder.messages.clear();
    ui.LabRegKalibr->hide();
    ui.KalibrBegSk1->click();
    EXPECT_EQ(Texts(),
              (std::vector<std::string>{kStartQuestion, "устройство 1 " + form1.Link.PortName +
                                                            " Идет запись базы данных. "
                                                            "Ждите."}));
    EXPECT_EQ(BlocksStored(1), 1);
    EXPECT_TRUE(ui.LabRegKalibr->isVisible());
    EXPECT_EQ(form1.Record.Changed, 1);
}

// A channel in error, or a code that would leave the scale no width, stores nothing: the
// operator is told why, the mode goes off again and the device keeps its block. A scale whose
// two codes are equal (the device's bit 5) is what a calibration mends, and it goes ahead.
TEST_F(CalibratedDevice, NothingIsStoredFromAChannelInError) {
    const std::string kept = ".\nКод АЦП не сохранен, калибровка отменена";
    struct Case {
        const char* name;
        uint8_t status;
        int16_t adc;
        int16_t scaleEnd;     // block offsets 2-3; the start is 5000
        std::string refusal;  // none: stored
    };
    const Case cases[] = {
        {"line break", 0x80, 4321, 20000, "Канал 1: ошибка измерения (состояние 100)" + kept},
        {"above range", 0x40, 4321, 20000, "Канал 1: ошибка измерения (состояние 010)" + kept},
        {"bad scale", 0x20, 4321, 20000, "Канал 1: ошибка измерения (состояние 001)" + kept},
        {"no width", 0, 20000, 20000, "Канал 1: код АЦП 20000 равен коду АЦП конца шкалы" + kept},
        {"equal codes mended", 0x20, 4321, 5000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device(1, [&](vsim::VirtualDevice& d) {
            d.SetWord(0, 5000);
            d.SetWord(2, c.scaleEnd);
            d.fixedMeasurement = vsim::Measurement{{100, 200}, {c.status, 0}, {c.adc, -1234}};
        });
        ReadDevice(1);
        const std::vector<uint8_t> before = BlockOf(1);
        const int stored = BlocksStored(1);
        form1.ui->KalibrBegSk1->click();
        if (c.refusal.empty()) {
            EXPECT_EQ(Texts(), std::vector<std::string>{kStartQuestion});
            EXPECT_EQ(BlocksStored(1), stored + 1);
            EXPECT_EQ(BlockOf(1)[0] | BlockOf(1)[1] << 8, 4321);
        } else {
            EXPECT_EQ(Texts(), (std::vector<std::string>{kStartQuestion, c.refusal}));
            EXPECT_EQ(BlocksStored(1), stored);
            EXPECT_EQ(BlockOf(1), before);
        }
        EXPECT_FALSE(CalibrationMode());
        EXPECT_FALSE(form1.ui->LabRegKalibr->isVisible());
    }
}

// "-40 мкА" at the end of channel 2's scale is the low nibble of its trim byte, written at
// once, and polling runs again afterwards. Each choice from the open list writes; the wheel and
// the keys over the closed list write nothing.
TEST_F(CalibratedDevice, TrimChoicesAreWrittenAtOnce) {
    Ui::TForm1& ui = *form1.ui;
    std::vector<uint8_t> expected = BlockOf(1);
    expected[16] = static_cast<uint8_t>((expected[16] & 0xF0) | 15);
    form1.BtnPuskTimerClick();
    Choose(ui.CBoxCurrentEnd2, 15);
    EXPECT_EQ(ui.CBoxCurrentEnd2->currentText(), "-40 мкА");
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
    EXPECT_EQ(BlockOf(1), expected);
    EXPECT_EQ(BlocksStored(1), 1);
    EXPECT_TRUE(form1.Timer1.isActive());
    EXPECT_EQ(form1.Record.Changed, 0);
    form1.StopPollingIfRunning();

    Choose(ui.CBoxCurrent1, 3);
    Choose(ui.CBoxCurrent1, 9);
    expected[15] = static_cast<uint8_t>((expected[15] & 0x0F) | 0x90);
    EXPECT_EQ(BlockOf(1), expected);
    EXPECT_EQ(BlocksStored(1), 3);
    EXPECT_FALSE(form1.Timer1.isActive());

    QComboBox* box = ui.CBoxCurrent1;
    box->setFocus(Qt::TabFocusReason);
    Wheel(box, -1);
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_End, Qt::Key_PageUp})
        QTest::keyClick(box, key);
    QTest::keyClicks(box, "-+0");
    EXPECT_EQ(box->currentIndex(), 9);
    EXPECT_EQ(BlocksStored(1), 3);
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];

    // Alt+Down and Alt+Up open the closed list; opening it writes nothing.
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up}) {
        QTest::keyClick(box, key, Qt::AltModifier);
        EXPECT_TRUE(box->view()->isVisible()) << key;
        box->hidePopup();
    }
    EXPECT_EQ(box->currentIndex(), 9);
    EXPECT_EQ(BlocksStored(1), 3);
}

}  // namespace
