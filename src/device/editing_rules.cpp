// The editing rules of the main window: each configuration list changes its field of the
// device record's block when the operator chooses an item, and the two setpoint edits take a
// percentage through their key filter and their value check on leaving.
#include <QApplication>
#include <QKeyEvent>
#include <functional>

#include "device/conversions.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

// The number in a range list's item text ("20", "0", "100").
float ItemNumber(const QComboBox& box) {
    return box.currentText().toFloat();
}

// The next widget after `from` in the window's tab order that takes the focus by Tab.
QWidget* NextTabStop(QWidget* from) {
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled()) return w;
    }
    return nullptr;
}

}  // namespace

void TForm1::SetUpEditingRules() {
    const std::pair<QComboBox*, std::function<void(int)>> rules[] = {
        {ui->CBoxTipD1, [this](int i) { CharacteristicRule(1, i); }},
        {ui->CBoxTipD2, [this](int i) { CharacteristicRule(2, i); }},
        {ui->CBoxMin1,
         [this](int i) {
             Record.SetRangeStartBit(i, 1);
             RangeRule(1);
         }},
        {ui->CBoxMin2,
         [this](int i) {
             Record.SetRangeStartBit(i, 2);
             RangeRule(2);
         }},
        {ui->CBoxMax1, [this](int) { RangeRule(1); }},
        {ui->CBoxMax2, [this](int) { RangeRule(2); }},
        {ui->CBoxTipSign1, [this](int i) { Record.SetAlarmType1(i); }},
        {ui->CBoxTipSign2, [this](int i) { Record.SetAlarmType2(i); }},
        {ui->CBoxTipK1, [this](int i) { Record.SetContactType(i, 1); }},
        {ui->CBoxTipK2, [this](int i) { Record.SetContactType(i, 2); }},
        {ui->CBoxBreak1, [this](int i) { Record.SetBreakOutput(i, 1); }},
        {ui->CBoxBreak2, [this](int i) { Record.SetBreakOutput(i, 2); }},
    };
    // A rule runs for the operator's choice only (activated), never when the read or another
    // rule sets a list.
    for (const auto& [box, rule] : rules) {
        connect(box, &QComboBox::activated, this, [this, box = box, rule = rule](int index) {
            Record.LastCombo = box;
            Record.LastEdit = nullptr;
            Record.LastButton = nullptr;
            StopPollingIfRunning();
            Record.Changed = 1;
            rule(index);
        });
    }
    for (QLineEdit* edit : {ui->Ust1, ui->Ust2}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this] { Record.Changed = 1; });
    }
}

void TForm1::CharacteristicRule(int channel, int index) {
    if (index == Record.GetCharacteristic(channel)) return;
    Record.SetCharacteristic(index, channel);
    RangeRule(channel);
}

// The channel's input range is taken from its two lists, and its setpoints shown again.
void TForm1::RangeRule(int channel) {
    TakeRangeFromLists(channel);
    RefreshSetpointsAfterChannel(channel);
}

void TForm1::TakeRangeFromLists(int channel) {
    if (channel == 1) {
        Record.RangeStart1 = ItemNumber(*ui->CBoxMin1);
        Record.RangeEnd1 = ItemNumber(*ui->CBoxMax1);
    } else {
        Record.RangeStart2 = ItemNumber(*ui->CBoxMin2);
        Record.RangeEnd2 = ItemNumber(*ui->CBoxMax2);
    }
}

// The setpoints that belong to a channel show their stored codes again: both on channel 1 of
// a ВЭК-01МЕ, one per channel on a ВЭК-02МЕ.
void TForm1::RefreshSetpointsAfterChannel(int channel) {
    if (channel == 1) {
        if (Record.TypeCode == kTypeVek01 || Record.TypeCode == kTypeVek02) ShowSetpoint(1);
        if (Record.TypeCode == kTypeVek01) ShowSetpoint(2);
    } else if (Record.TypeCode == kTypeVek02) {
        ShowSetpoint(2);
    }
}

QLineEdit& TForm1::SetpointEdit(int setpoint) const {
    return setpoint == 1 ? *ui->Ust1 : *ui->Ust2;
}

void TForm1::ShowSetpoint(int setpoint) {
    const int32_t code = setpoint == 1 ? Record.GetSetpoint1() : Record.GetSetpoint2();
    const QString text = QString::fromStdString(SetpointPercentText(code));
    // Unchanged and not being edited: nothing to lay out again.
    QLineEdit& edit = SetpointEdit(setpoint);
    if (edit.text() != text || edit.isModified()) edit.setText(text);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && watched->objectName() == "ToolButton5") return true;
    if (watched == ui->Ust1 || watched == ui->Ust2) {
        auto& edit = *static_cast<QLineEdit*>(watched);
        if (event->type() == QEvent::KeyPress) {
            return FilterSetpointKey(edit, *static_cast<QKeyEvent*>(event));
        }
        if (event->type() == QEvent::FocusOut) {
            // Leaving is a move to another control of the window; a message box, a menu or
            // another program taking the focus is not.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                reason != Qt::MenuBarFocusReason) {
                LeaveSetpointEdit(edit);
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// Which keys a setpoint edit takes: digits, a decimal comma and a minus sign however the
// keyboard layout types them, and the keys that edit or move within the text. Any other key
// is an input error and does not reach the edit. Tab and Backtab belong to the window (and
// its shortcuts never reach the edit). Returns true when the key has been dealt with here.
bool TForm1::FilterSetpointKey(QLineEdit& edit, const QKeyEvent& key) {
    const int code = key.key();
    if (code == Qt::Key_Tab || code == Qt::Key_Backtab) return false;
    StopPollingIfRunning();
    switch (code) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Meta:
        case Qt::Key_NumLock:
        case Qt::Key_CapsLock:
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
        case Qt::Key_Left:
        case Qt::Key_Right:
            return false;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (edit.text().isEmpty()) {
                ShowInputError(edit);
            } else if (QWidget* next = NextTabStop(&edit)) {
                next->setFocus(Qt::TabFocusReason);
            }
            return true;
        default:
            break;
    }
    const bool keypad = key.modifiers() & Qt::KeypadModifier;
    if (keypad && (code == Qt::Key_Period || code == Qt::Key_Comma)) {
        // The keypad's decimal key types the decimal comma, whatever the layout gives.
        edit.insert(",");
        return true;
    }
    const QString text = key.text();
    const bool shift = key.modifiers() & Qt::ShiftModifier;
    if (text.size() == 1) {
        const QChar c = text[0];
        if (c.isDigit() && c.unicode() < 128 && !shift) return false;
        if (c == ',' || c == '-') return false;
    }
    ShowInputError(edit);
    return true;
}

// The value check and store on leaving a setpoint edit. An edit the operator has not typed in
// since it was last set or stored stores nothing: the shown percentage is rounded, and storing
// it back would move the device's setpoint just because the operator passed through the edit.
// A value typed again as it is shown is the operator's and is stored.
void TForm1::LeaveSetpointEdit(QLineEdit& edit) {
    OperationUnderWay underWay(*this);
    const int setpoint = &edit == ui->Ust1 ? 1 : 2;
    Record.LastEdit = &edit;
    Record.LastButton = nullptr;
    Record.LastCombo = nullptr;
    if (!edit.isModified()) return;
    const QString text = edit.text();

    const SetpointCheck check = Record.CheckSetpointText(text.toStdU32String(), setpoint);
    switch (check.result) {
        case SetpointCheck::Ok:
            (setpoint == 1 ? ui->StUstKod1 : ui->StUstKod2)->setText(QString::number(check.code));
            if (setpoint == 1) {
                Record.SetSetpoint1(check.code);
            } else {
                Record.SetSetpoint2(check.code);
            }
            edit.setModified(false);
            return;
        case SetpointCheck::InputError:
            ShowInputError(edit);
            break;
        case SetpointCheck::NotANumber:
            ShowError("«" + text.toStdString() +
                      "» не является числом.\nДесятичный разделитель — запятая.");
            break;
    }
    ShowSetpoint(setpoint);
}

void TForm1::ShowInputError(QLineEdit& edit) {
    edit.setStyleSheet("background-color: #ff0000;");
    QApplication::beep();
    ShowOperatorMessage({" Ошибка ввода ", kProgramTitle, MessageIcon::None, MessageButtons::Ok,
                         MessageAnswer::Ok});
    edit.setStyleSheet("background-color: #ffffff;");
    edit.clear();
}

void TForm1::FocusFirstTabStop() {
    // Without the window active no focus event comes, so the exit rule runs here.
    QWidget* focused = focusWidget();
    if (focused == ui->Ust1 || focused == ui->Ust2) {
        LeaveSetpointEdit(*static_cast<QLineEdit*>(focused));
    }
    if (QWidget* first = NextTabStop(this)) first->setFocus(Qt::TabFocusReason);
}
