// Start-up and shutdown of the tool: the main window, then the dialogs, then the message
// loop until the main window closes.
#include "link/Obrport.h"
#include "link/exchange_settings_dialog.h"
#include "ui/Obr_vek.h"
#include "ui/Obrlistdevice.h"
#include "ui/vek_application.h"

int main(int argc, char* argv[]) {
    VekApplication app(argc, argv);
    QuitOnTerminationSignals(app);
    // Ties the window to its desktop entry (menu name and icon) under Wayland.
    QGuiApplication::setDesktopFileName("io.github.vekserv.VekServ");
    try {
        TForm1 form1;
        TFormPort formPort(form1);
        form1.FormPort = &formPort;
        TFormNastr formNastr(form1.Link);
        form1.FormNastr = &formNastr;
        // Without an owner window: its controls repeat names of the main window's.
        TFormDevice formDevice(form1.Link);
        form1.FormDevice = &formDevice;
        form1.show();
        QApplication::exec();
    } catch (const std::exception& e) {
        ShowException(e);
    }
    return 0;
}
