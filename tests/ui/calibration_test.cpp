// Calibration of the scale ends and the output trim as an operator meets them: the buttons and
// lists of the real window, the questions answered, and the simulator's stored block checked
// byte for byte.
#include <QLabel>
#include <QPushButton>
#include <QWheelEvent>

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
    const QPointF centre = box->rect().center();
    QWheelEvent wheel(centre, box->mapToGlobal(centre), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(box, &wheel);
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_End, Qt::Key_PageUp})
        QTest::keyClick(box, key);
    QTest::keyClicks(box, "-+0");
    EXPECT_EQ(box->currentIndex(), 9);
    EXPECT_EQ(BlocksStored(1), 3);
    EXPECT_TRUE(recorder.messages.empty()) << Texts()[0];
}

}  // namespace
