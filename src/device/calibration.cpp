// Calibration of the scale ends of each channel, the trim of the output current written at
// once, and the device's new bus number, taken over by the next write.
#include <QAbstractItemView>
#include <QKeyEvent>

#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

constexpr uint8_t kCalibrationModeFunction = 5;
constexpr uint8_t kCalibrationModeOn[] = {0x10, 0x01, 0xFF, 0x00};
constexpr uint8_t kCalibrationModeOff[] = {0x10, 0x01, 0x00, 0x00};

std::string CalibrationQuestion(bool scaleEnd) {
    return std::string("Внимание! Сейчас будет произведена калибровка\n") +
           (scaleEnd ? "конца" : "начала") +
           " шкалы измерения \nУбедитесь, подан ли на вход сигнал,\nсоответствующий " +
           (scaleEnd ? "концу" : "началу") + " шкалы?";
}

}  // namespace

void TForm1::SetUpCalibration() {
    struct ScaleButton {
        QPushButton* button;
        int channel;
        bool scaleEnd;
    };
    for (auto [button, channel, scaleEnd] :
         {ScaleButton{ui->KalibrBegSk1, 1, false}, ScaleButton{ui->KalibrEndSk1, 1, true},
          ScaleButton{ui->KalibrBegSk2, 2, false}, ScaleButton{ui->KalibrEndSk2, 2, true}}) {
        connect(button, &QPushButton::clicked, this,
                [=, this] { CalibrateScaleEnd(*button, channel, scaleEnd); });
    }
    struct TrimList {
        QComboBox* box;
        int channel;
        bool scaleEnd;
    };
    for (auto [box, channel, scaleEnd] :
         {TrimList{ui->CBoxCurrent1, 1, false}, TrimList{ui->CBoxCurrentEnd1, 1, true},
          TrimList{ui->CBoxCurrent2, 2, false}, TrimList{ui->CBoxCurrentEnd2, 2, true}}) {
        connect(box, &QComboBox::activated, this,
                [=, this](int index) { TrimRule(*box, channel, scaleEnd, index); });
        box->installEventFilter(this);
    }
    connect(ui->CBoxUstrZ, &QComboBox::activated, this, &TForm1::DeviceNumberRule);
}

// The operator applies the input signal of a scale end; the device's present ADC code becomes
// that end's code and is written. The channel's label shows the calibration mode from the
// command that switches it on until the written block (or the command that switches it off)
// has ended it.
void TForm1::CalibrateScaleEnd(QPushButton& button, int channel, bool scaleEnd) {
    // No polling tick reads while the question is open.
    OperationUnderWay underWay(*this);
    Record.LastButton = &button;
    Record.LastEdit = nullptr;
    Record.LastCombo = nullptr;
    QLabel* modeLabel = channel == 1 ? ui->LabRegKalibr : ui->LabRegKalibrTXC;
    modeLabel->show();
    modeLabel->repaint();
    if (!SendCalibrationMode(true)) return;

    const MessageAnswer answer = ShowOperatorMessage(
        {CalibrationQuestion(scaleEnd), "Подтвердите готовность к калибровке шкалы",
         MessageIcon::Question, MessageButtons::YesNo, MessageAnswer::Yes});
    if (answer != MessageAnswer::Yes) {
        if (SendCalibrationMode(false)) modeLabel->hide();
        return;
    }

    // Only a code this read has brought is stored; a failed read has said why, and the device
    // is still in calibration mode.
    InPortClick();
    if (Record.DataRead != 1) return;
    const int32_t code = channel == 1 ? Record.GetAdc1() : Record.GetAdc2();
    QLabel* codeField = channel == 1 ? (scaleEnd ? ui->StKEndSk1 : ui->StKBegSk1)
                                     : (scaleEnd ? ui->StKEndSk2 : ui->StKBegSk2);
    codeField->setText(QString::number(code));
    if (channel == 1) {
        scaleEnd ? Record.SetScaleEnd1(code) : Record.SetScaleStart1(code);
    } else {
        scaleEnd ? Record.SetScaleEnd2(code) : Record.SetScaleStart2(code);
    }
    Record.Changed = 1;
    if (OutPortClick()) modeLabel->hide();
}

// The operator pressed for this command, so its failure is shown even while polling keeps
// failed reads quiet.
bool TForm1::SendCalibrationMode(bool on) {
    ReplyBuffer reply{};
    const int32_t result = Link.Transact(Record.DeviceNumber, kCalibrationModeFunction,
                                         on ? kCalibrationModeOn : kCalibrationModeOff, reply);
    if (result == lrOk) return true;
    Link.ReportError(Record.DeviceNumber, result);
    return false;
}

void TForm1::TrimRule(QComboBox& box, int channel, bool scaleEnd, int index) {
    Record.LastCombo = &box;
    Record.LastEdit = nullptr;
    Record.LastButton = nullptr;
    const bool wasPolling = Timer1.isActive();
    StopPollingIfRunning();
    Record.Changed = 1;
    if (scaleEnd) {
        Record.SetEndTrim(index, channel);
    } else {
        Record.SetStartTrim(index, channel);
    }
    OutPortClick();
    if (wasPolling && !Timer1.isActive() && !portLost_) BtnPuskTimerClick();
}

// A trim list writes to the device at each choice, so it changes only through its open list:
// the wheel passing over it and the keys that step through a closed list would write once per
// notch or key. The keys that open the list still do.
bool TForm1::FilterTrimListEvent(const QComboBox& box, const QEvent& event) const {
    if (event.type() == QEvent::Wheel) return true;
    if (event.type() != QEvent::KeyPress || box.view()->isVisible()) return false;
    const auto& key = static_cast<const QKeyEvent&>(event);
    switch (key.key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
            return !(key.modifiers() & Qt::AltModifier);
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            // Typing an item's first letters would choose it.
            return !key.text().isEmpty() && key.text() != " " && key.text()[0].isPrint();
    }
}

// The new number goes to the device with the next write. Polling stops, as for every other
// change, so that its next read does not put the device's present number back.
void TForm1::DeviceNumberRule(int index) {
    Record.LastCombo = ui->CBoxUstrZ;
    Record.LastEdit = nullptr;
    Record.LastButton = nullptr;
    StopPollingIfRunning();
    Record.NewDeviceNumber = ui->CBoxUstrZ->itemText(index).toInt() - 1;
    Record.SetDeviceNumberByte(Record.NewDeviceNumber);
    Record.Changed = 1;
}
