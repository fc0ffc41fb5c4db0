// Calibration of the scale ends of each channel, the trim of the output current written at
// once, and the device's new bus number, taken over by the next write.
#include "device/conversions.h"
#include "device/device_exchanges.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

std::string CalibrationQuestion(bool scaleEnd) {
    return std::string("Внимание! Сейчас будет произведена калибровка\n") +
           (scaleEnd ? "конца" : "начала") +
           " шкалы измерения \nУбедитесь, подан ли на вход сигнал,\nсоответствующий " +
           (scaleEnd ? "концу" : "началу") + " шкалы?";
}

std::string ScaleEndText(int channel, bool scaleEnd) {
    return "канал " + std::to_string(channel) + (scaleEnd ? ", конец шкалы" : ", начало шкалы");
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
    if (const std::string refusal = CalibrationRefusal(channel, scaleEnd, code); !refusal.empty()) {
        ShowWarning(refusal);
        if (SendCalibrationMode(false)) modeLabel->hide();
        return;
    }
    QLabel* codeField = channel == 1 ? (scaleEnd ? ui->StKEndSk1 : ui->StKBegSk1)
                                     : (scaleEnd ? ui->StKEndSk2 : ui->StKBegSk2);
    codeField->setText(QString::number(code));
    if (channel == 1) {
        scaleEnd ? Record.SetScaleEnd1(code) : Record.SetScaleStart1(code);
    } else {
        scaleEnd ? Record.SetScaleEnd2(code) : Record.SetScaleStart2(code);
    }
    Record.Changed = 1;
    WriteAction action(*this, "калибровка: " + ScaleEndText(channel, scaleEnd));
    if (OutPortClick()) modeLabel->hide();
}

// Why the present ADC code of a channel must not become a scale end's code; empty when it may.
// A channel that reports an input error (bits 7 and 6 of its status) measures no signal, and a
// code equal to the other end's leaves a scale of no width: either would make every later
// measurement wrong. Bit 5 alone is no refusal while the block's two codes are equal: that is
// the scale fault this calibration is there to mend.
std::string TForm1::CalibrationRefusal(int channel, bool scaleEnd, int32_t code) const {
    const std::string channelText = "Канал " + std::to_string(channel);
    const int32_t status = Record.GetStatus(channel);
    const int32_t start = channel == 1 ? Record.GetScaleStart1() : Record.GetScaleStart2();
    const int32_t end = channel == 1 ? Record.GetScaleEnd1() : Record.GetScaleEnd2();
    const bool scaleFaultOnly = (status & 0xE0) == 0x20 && start == end;
    if ((status & 0xE0) != 0 && !scaleFaultOnly) {
        return channelText + ": ошибка измерения (состояние " + StatusBits(status, 7, 5) +
               ").\nКод АЦП не сохранен, калибровка отменена";
    }
    if (code == (scaleEnd ? start : end)) {
        return channelText + ": код АЦП " + std::to_string(code) + " равен коду АЦП " +
               (scaleEnd ? "начала" : "конца") +
               " шкалы.\nКод АЦП не сохранен, калибровка отменена";
    }
    return {};
}

// The operator pressed for this command, so its failure is shown even while polling keeps
// failed reads quiet.
bool TForm1::SendCalibrationMode(bool on) {
    const int32_t result = SetCalibrationMode(Link, Record, on, &Journal);
    WarnIfJournalFailed();
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
    WriteAction action(*this, "корректировка тока: " + ScaleEndText(channel, scaleEnd));
    OutPortClick();
    if (wasPolling && !Timer1.isActive() && !portLost_) BtnPuskTimerClick();
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
