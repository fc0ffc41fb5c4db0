// Runs the device list's search to its end without the event loop: the press of "Обновить"
// (or of the button given), then each step as the event loop would run it.
#pragma once

#include <QPushButton>

#include "ui/Obrlistdevice.h"
#include "ui_Obrlistdevice.h"

inline void ScanToEnd(TFormDevice& dialog, bool click = false) {
    if (click) {
        dialog.ui->Button1->click();
    } else {
        dialog.Button1Click();
    }
    while (dialog.Scanning())
        dialog.ScanStep();
}
