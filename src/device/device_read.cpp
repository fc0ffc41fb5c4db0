// The device read: identification (17), configuration block (68) and measurements (71) of
// the current device into the device record, the model check, the window's layout for the
// model, and every value and state indicator on the window.
#include <QLocale>

#include "common/saved_text.h"
#include "device/conversions.h"
#include "device/device_exchanges.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

constexpr const char* kTeal = "#008080";
constexpr const char* kRed = "#ff0000";

// Fixed-point texts use the decimal separator of the user's locale (the default locale, which
// is the system's unless a test sets another).
std::string DecimalSeparator() {
    return QLocale().decimalPoint().toStdString();
}

QString Integer(int32_t value) {
    return QString::number(value);
}

// Qt polishes a widget again on every style sheet it is given, the same one too: on every
// polling read that would be nine widgets' worth of work for nothing.
void SetStyleSheet(QWidget* widget, const QString& sheet) {
    if (widget->styleSheet() != sheet) widget->setStyleSheet(sheet);
}

}  // namespace

void TForm1::InPortClick() {
    OperationUnderWay underWay(*this);
    const DeviceRead read = ReadDevice(Link, Record);
    if (read.identityChanged) {
        for (QComboBox* box : {ui->CBoxTipD1, ui->CBoxTipK1, ui->CBoxBreak1, ui->CBoxTipD2,
                               ui->CBoxTipK2, ui->CBoxBreak2}) {
            box->setCurrentIndex(0);
        }
    }
    if (read.BlockTaken()) {
        ui->CBoxUstr->setCurrentIndex(Record.DeviceNumber);
        ui->CBoxUstrZ->setCurrentIndex(Record.NewDeviceNumber);
    }
    if (read.foreignNumber >= 0) {
        return ReadFailed(0,
                          ForeignBlockText(Record.DeviceNumber, Link.PortName, read.foreignNumber));
    }
    if (!read.Completed()) return ReadFailed(read.result);

    if (WarnIfNotServed()) return;
    if (!Record.LayoutReady) LayOutForType();
    ShowDeviceMode();
    ShowValues();
    ShowStateIndicators();
    Record.DataRead = 1;
    Record.Changed = 0;
    Trend.Add(WallNowMs(), Link.PortName, Record);
    emit MeasurementsRead();
}

// A failed transaction (or an unusable reply, with its own text) stops polling, is reported
// while reports are on, and ends the read.
void TForm1::ReadFailed(int32_t code, const std::string& text) {
    StopPollingIfRunning();
    if (!ReportErrors) return;
    if (text.empty()) {
        Link.ReportError(Record.DeviceNumber, code);
    } else {
        ShowWarning(text);
    }
}

// Only the two ВЭК models are shown; the others get a warning. True when the read ends here.
bool TForm1::WarnIfNotServed() {
    const std::optional<std::string> text = NotServedText(Record.DeviceNumber, Record.TypeCode);
    if (text) ShowWarning(*text);
    return text.has_value();
}

void TForm1::LayOutForType() {
    const bool twoChannels = Record.TypeCode == kTypeVek02;
    ui->LabReg->show();
    ui->GBoxKanal->show();
    ui->Panel1->setMinimumWidth(300);
    ui->Panel1->setText(twoChannels ? "ВЭК-02МЕ  735218.004-04  ПО.V1  0x2C74E9A6"
                                    : "ВЭК-01МЕ  735218.004-03  ПО.V1  0x5E31C08B");
    ui->GBoxSign2->show();
    ui->GBoxKanal2->setVisible(twoChannels);
    ui->LabBreak2->setVisible(twoChannels);
    ui->CBoxBreak2->setVisible(twoChannels);
    Record.LayoutReady = 1;
}

void TForm1::ShowDeviceMode() {
    const bool privileged = Record.NonPrivileged == 0;
    ui->Label27->setText(privileged ? "привилегированный" : "непривилегированный");
    SetStyleSheet(ui->Label27, privileged ? "color: #ff0000;" : "color: #000080;");
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->KalibrBegSk1, ui->KalibrEndSk1, ui->CBoxTipD1, ui->CBoxMin1, ui->CBoxMax1,
             ui->CBoxTipD2, ui->CBoxMin2, ui->CBoxMax2, ui->KalibrBegSk2, ui->KalibrEndSk2,
             ui->CBoxCurrent1, ui->CBoxCurrentEnd1, ui->CBoxCurrent2, ui->CBoxCurrentEnd2}) {
        w->setEnabled(privileged);
    }
}

void TForm1::ShowValues() {
    const std::string separator = DecimalSeparator();
    const bool oneChannel = Record.TypeCode == kTypeVek01;
    TProgVEKClass& r = Record;
    auto pressureText = [&](int32_t result, int channel, float start, float end) {
        return QString::fromStdString(
            PressureText(result, r.GetCharacteristic(channel), start, end, separator));
    };
    auto percentText = [&](int32_t result) {
        return QString::fromStdString(OutputPercentText(result, separator));
    };

    ui->StKBegSk1->setText(Integer(r.GetScaleStart1()));
    ui->StKEndSk1->setText(Integer(r.GetScaleEnd1()));
    ui->CBoxTipD1->setCurrentIndex(r.GetCharacteristic(1));
    ui->CBoxMin1->setCurrentIndex(r.GetRangeStartBit(1));
    ui->CBoxMax1->setCurrentIndex(0);
    TakeRangeFromLists(1);
    ui->CBoxBreak1->setCurrentIndex(r.GetBreakOutput(1));
    ui->CBoxCurrent1->setCurrentIndex(r.GetStartTrim(1));
    ui->CBoxCurrentEnd1->setCurrentIndex(r.GetEndTrim(1));
    ui->CBoxTipK1->setCurrentIndex(r.GetContactType(1));
    ui->CBoxTipSign1->setCurrentIndex(r.GetAlarmType1());
    if (oneChannel) ui->CBoxTipSign2->setCurrentIndex(r.GetAlarmType2());
    ui->StUstKod1->setText(Integer(r.GetSetpoint1()));
    if (oneChannel) ui->StUstKod2->setText(Integer(r.GetSetpoint2()));
    ShowSetpoint(1);
    if (oneChannel) ShowSetpoint(2);
    ui->StRez1->setText(Integer(r.GetResult1()));
    ui->StKodACP1->setText(Integer(r.GetAdc1()));
    ui->StRezKPa1->setText(pressureText(r.GetResult1(), 1, r.RangeStart1, r.RangeEnd1));
    ui->StRezProc1->setText(percentText(r.GetResult1()));
    if (oneChannel) return;

    ui->StKBegSk2->setText(Integer(r.GetScaleStart2()));
    ui->StKEndSk2->setText(Integer(r.GetScaleEnd2()));
    ui->CBoxTipD2->setCurrentIndex(r.GetCharacteristic(2));
    ui->CBoxMin2->setCurrentIndex(r.GetRangeStartBit(2));
    ui->CBoxMax2->setCurrentIndex(0);
    TakeRangeFromLists(2);
    ui->CBoxBreak2->setCurrentIndex(r.GetBreakOutput(2));
    ui->CBoxCurrent2->setCurrentIndex(r.GetStartTrim(2));
    ui->CBoxCurrentEnd2->setCurrentIndex(r.GetEndTrim(2));
    ui->CBoxTipK2->setCurrentIndex(r.GetContactType(2));
    ui->CBoxTipSign2->setCurrentIndex(r.GetAlarmType2());
    ui->StUstKod2->setText(Integer(r.GetSetpoint2()));
    ShowSetpoint(2);
    ui->StRez2->setText(Integer(r.GetResult2()));
    ui->StKodACP2->setText(Integer(r.GetAdc2()));
    ui->StRezKPa2->setText(pressureText(r.GetResult2(), 2, r.RangeStart2, r.RangeEnd2));
    ui->StRezProc2->setText(percentText(r.GetResult2()));
}

void TForm1::ShowStateIndicators() {
    // A row of status bits on teal when all are 0, on red otherwise, and its label's text in
    // the matching colour.
    auto show = [](QLabel* box, QLabel* label, int32_t status, int highBit, int lowBit,
                   const char* normal, const char* fault) {
        const QString digits = QString::fromStdString(StatusBits(status, highBit, lowBit));
        const bool clear = !digits.contains('1');
        const char* colour = clear ? kTeal : kRed;
        box->setText(digits);
        SetStyleSheet(box, QString("background-color: %1;").arg(colour));
        label->setText(clear ? normal : fault);
        SetStyleSheet(label, QString("color: %1;").arg(colour));
    };
    const int32_t status1 = Record.GetStatus(1);
    const int32_t status2 = Record.GetStatus(2);
    show(ui->StSost1, ui->Label18, status1, 7, 5, "       Норма", "       Ошибка");
    show(ui->StNar1, ui->Label19, status1, 1, 0, "     Норма", "Нарушение");
    show(ui->StNar2, ui->Label17, status2, 1, 0, "     Норма", "Нарушение");
    if (Record.TypeCode == kTypeVek02) {
        show(ui->StSost2, ui->Label21, status2, 7, 5, "       Норма", "       Ошибка");
    }
}
