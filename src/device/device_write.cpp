// The write: the configuration block held in the device record goes back to the device it
// was read from, after the device has been identified again; a new bus number is taken over,
// the device confirms, and it is read again. Also the close of the main window, which offers
// unsent changes for writing.
#include <QCloseEvent>

#include "device/device_exchanges.h"
#include "device/service_journal.h"
#include "ui/Obr_vek.h"
#include "ui/journal_window.h"
#include "ui_Obr_vek.h"

bool TForm1::OutPortClick() {
    // No polling tick reads while the write or one of its message boxes is under way.
    OperationUnderWay underWay(*this);
    FocusFirstTabStop();
    if (!Record.HoldsWritableBlock()) {
        ShowWarning(kNoDeviceDataText);
        return false;
    }
    ui->ProgressBar1->setMaximum(100);
    ui->ProgressBar1->setValue(0);
    ui->ProgressBar1->show();
    AdvanceProgress();

    WriteOptions options;
    options.journal = &Journal;
    if (!writeAction_.empty()) {
        options.action = writeAction_;
    } else if (Record.NewDeviceNumber != Record.DeviceNumber) {
        options.action = "смена номера";
    }
    options.checked = [this] { AdvanceProgress(); };
    options.taken = [this] {
        ui->CBoxUstr->setCurrentIndex(Record.DeviceNumber);
        AdvanceProgress();
    };
    const DeviceWrite write = WriteBlock(Link, Record, options);
    switch (write.reached) {
        case DeviceWrite::Done:
            InPortClick();
            return FinishWrite(true);
        case DeviceWrite::Record:  // checked above
            break;
        case DeviceWrite::Identification:
            StopPollingIfRunning();
            if (ReportErrors) Link.ReportError(Record.DeviceNumber, write.result);
            break;
        case DeviceWrite::Type:
        case DeviceWrite::Version:
            ShowWarning(*WriteRefusalText(write));
            break;
        case DeviceWrite::NewNumber:
            if (write.refusedNumber < 0) {
                Link.ReportError(Record.NewDeviceNumber, write.result);
                break;
            }
            // The block carries the device's own number again.
            ShowWarning(*WriteRefusalText(write));
            ui->CBoxUstrZ->setCurrentIndex(Record.DeviceNumber);
            break;
        case DeviceWrite::Block:
        case DeviceWrite::Confirmation:
            Link.ReportError(Record.DeviceNumber, write.result);
            break;
    }
    return FinishWrite(false);
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
    if (journalWindow_ && journalWindow_->isVisible()) journalWindow_->Refresh();
    WarnIfJournalFailed();
    for (QWidget* last :
         std::initializer_list<QWidget*>{Record.LastEdit, Record.LastButton, Record.LastCombo}) {
        if (!last) continue;
        if (last->isVisible() && last->isEnabled()) last->setFocus(Qt::OtherFocusReason);
        break;
    }
    return written;
}

// A change that the journal could not take is told once a run: the trail is not being kept.
void TForm1::WarnIfJournalFailed() {
    if (Journal.LastError().empty() || journalWarned_) return;
    journalWarned_ = true;
    ShowWarning("Журнал работ не ведется:\n" + Journal.LastError());
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
    ShowInformation("Работа закончена", "Подтверждение");
    Timer1.stop();
    Link.ClosePort();
    CloseOwnWindows();
}
