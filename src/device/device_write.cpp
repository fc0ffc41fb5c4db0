// The write: the configuration block held in the device record goes back to the device it
// was read from, after the device has been identified again; a new bus number is taken over,
// the device confirms, and it is read again. Also the close of the main window, which offers
// unsent changes for writing.
#include <QCloseEvent>

#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

// Pause that lets the device store the block before it is asked to confirm.
constexpr int32_t kStoreWaitMs = 2000;

}  // namespace

bool TForm1::OutPortClick() {
    // No polling tick reads while the write or one of its message boxes is under way.
    OperationUnderWay underWay(*this);
    FocusFirstTabStop();
    // Only a whole block read from a served device goes back: not one cleared by a failed
    // read, not another model's after a model warning, nor one that names a number off the bus.
    if (!Record.HoldsWritableBlock()) {
        ShowWarning("Нет данных о приборе,\nпроизведите ввод информации с СОМ порта");
        return false;
    }
    ui->ProgressBar1->setMaximum(100);
    ui->ProgressBar1->setValue(0);
    ui->ProgressBar1->show();
    AdvanceProgress();

    ReplyBuffer reply{};
    int32_t result = Link.Transact(Record.DeviceNumber, 17, {}, reply);
    if (result != lrOk) {
        StopPollingIfRunning();
        if (ReportErrors) Link.ReportError(Record.DeviceNumber, result);
        return FinishWrite(false);
    }
    if (reply[5] != Record.TypeCode) {
        ShowWarning("Не совпадает тип прибора \nпри попытке сохранить базу.\nСохранение отменено");
        return FinishWrite(false);
    }
    if (reply[3] != Record.Version) {
        ShowWarning(
            "Не совпадает версия прибора \nпри попытке сохранить базу.\nСохранение отменено");
        return FinishWrite(false);
    }

    if (Record.NewDeviceNumber != Record.DeviceNumber && !NewNumberIsFree()) {
        return FinishWrite(false);
    }

    std::array<uint8_t, kBlockCapacity> payload{};
    Record.CopyBlockTo(payload);
    AdvanceProgress();
    result = Link.Transact(Record.DeviceNumber, 69,
                           std::span(payload.data(), Record.GetBlockLength()), reply);
    if (result != lrOk) {
        Link.ReportError(Record.DeviceNumber, result);
        return FinishWrite(false);
    }

    // The device has taken the block, and with it the new number.
    Record.DeviceNumber = Record.NewDeviceNumber;
    Record.BlockOrigin = Record.DeviceNumber;
    ui->CBoxUstr->setCurrentIndex(Record.DeviceNumber);
    AdvanceProgress();
    Link.WaitMs(kStoreWaitMs);

    reply.fill(0);
    result = Link.Transact(Record.DeviceNumber, 14, {}, reply);
    if (result != lrOk) {
        Link.ReportError(Record.DeviceNumber, result);
        return FinishWrite(false);
    }
    Record.Changed = 0;
    InPortClick();
    return FinishWrite(true);
}

// A device that already answers at the new number would answer every request together with
// the renumbered one. Only silence there lets the number go out; a refused number is put back
// to the one the device has, so that the next write carries the other changes.
bool TForm1::NewNumberIsFree() {
    ReplyBuffer reply{};
    int32_t result = lrNoReply;
    {
        ScopedStage1Attempts search(Link, kSearchStage1Attempts);
        result = Link.Transact(Record.NewDeviceNumber, 17, {}, reply);
    }
    if (result == lrNoReply) return true;
    if (result == lrPortFailed || result == lrPortNotConnected) {
        Link.ReportError(Record.NewDeviceNumber, result);
        return false;
    }
    ShowWarning("Номер " + std::to_string(Record.NewDeviceNumber + 1) +
                " уже занят другим устройством.\nСохранение отменено");
    Record.NewDeviceNumber = Record.DeviceNumber;
    Record.SetDeviceNumberByte(Record.DeviceNumber);
    ui->CBoxUstrZ->setCurrentIndex(Record.DeviceNumber);
    return false;
}

// The window does not repaint while an exchange blocks it: the bar is painted at each step.
void TForm1::AdvanceProgress() {
    ui->ProgressBar1->setValue(ui->ProgressBar1->value() + 25);
    ui->ProgressBar1->repaint();
}

// The focus goes back to the control last edited, where it can take it. Returns `written`.
bool TForm1::FinishWrite(bool written) {
    AdvanceProgress();
    ui->ProgressBar1->hide();
    for (QWidget* last :
         std::initializer_list<QWidget*>{Record.LastEdit, Record.LastButton, Record.LastCombo}) {
        if (!last) continue;
        if (last->isVisible() && last->isEnabled()) last->setFocus(Qt::OtherFocusReason);
        break;
    }
    return written;
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->accept();
    if (closing_) return;  // the close sequence runs once, whatever asks again meanwhile
    closing_ = true;
    // A tick under the question would read the device again and drop the change it asks about.
    OperationUnderWay underWay(*this);
    if (Record.Changed && !portLost_) {
        const MessageAnswer answer =
            ShowOperatorMessage({"Данные были изменены. Передать?", "Подтвердите передачу данных",
                                 MessageIcon::Question, MessageButtons::YesNo, MessageAnswer::Yes});
        if (answer == MessageAnswer::Yes) OutPortClick();
    }
    ShowOperatorMessage({"Работа закончена", "Подтверждение", MessageIcon::Information,
                         MessageButtons::Ok, MessageAnswer::Ok});
    Timer1.stop();
    Link.ClosePort();
    CloseOwnWindows();
}
