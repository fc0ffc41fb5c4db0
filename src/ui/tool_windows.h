// The tool's four windows, created in start-up order (the main window first, so the dialogs
// can reach its link), with the main window's references to its dialogs set.
#pragma once

#include "link/Obrport.h"
#include "link/exchange_settings_dialog.h"
#include "ui/Obr_vek.h"
#include "ui/Obrlistdevice.h"

struct ToolWindows {
    ToolWindows() {
        form1.FormPort = &formPort;
        form1.FormNastr = &formNastr;
        form1.FormDevice = &formDevice;
    }
    TForm1 form1;
    TFormPort formPort{form1.Link, formNastr};
    TFormNastr formNastr{form1.Link};
    // Without an owner window: its controls repeat names of the main window's.
    TFormDevice formDevice{form1.Link};
};
