// Polling and the choice of device: the timer that repeats the device read every 3 s, its
// start/stop button with the report-errors flag, and the choice of the current device
// number in CBoxUstr.
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

// The one polling toggle; every rule that stops polling goes through it.
void TForm1::BtnPuskTimerClick() {
    if (Timer1.isActive()) {
        Timer1.stop();
    } else {
        Timer1.start();  // the first tick comes a whole interval later
    }
    ReportErrors = !ReportErrors;
    ui->LabTimer->setVisible(!ui->LabTimer->isVisible());
}

void TForm1::StopPollingIfRunning() {
    if (Timer1.isActive()) BtnPuskTimerClick();
}

// A tick that comes while a read or a write is under way (delivered by one of its message
// boxes' event loops) is skipped: it would start an exchange in the middle of another.
void TForm1::Timer1Timer() {
    if (operationsUnderWay_ > 0) return;
    InPortClick();
}

void TForm1::CBoxUstrClick(int index) {
    if (index == Record.DeviceNumber) return;
    StopPollingIfRunning();
    if (Record.Changed) {
        const MessageAnswer answer = AskToSaveChanges();
        if (answer == MessageAnswer::Cancel) {
            // The number the device has, not a new one waiting for the write.
            ui->CBoxUstr->setCurrentIndex(Record.DeviceNumber);
            return;
        }
        // After Yes the write ends with a read that shows the old device's number again.
        if (answer == MessageAnswer::Yes) {
            OutPortClick();
            ui->CBoxUstr->setCurrentIndex(index);
        }
        ui->CBoxUstrZ->setCurrentIndex(ui->CBoxUstr->currentIndex());
    }
    ForgetDevice();
    Record.DeviceNumber = ui->CBoxUstr->currentText().toInt() - 1;
    Record.NewDeviceNumber = Record.DeviceNumber;
}
