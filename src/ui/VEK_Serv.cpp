// Start-up and shutdown of the tool: the main window, then the dialogs, then the message
// loop until the main window closes.
#include <cstdio>
#include <cstring>

#include "ui/tool_windows.h"
#include "ui/vek_application.h"

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vek-serv %s\n", VEK_VERSION);
        return 0;
    }
    ChooseFontEngineUnderWine();
    VekApplication app(argc, argv);
    QuitOnTerminationSignals(app);
    // Ties the window to its desktop entry (menu name and icon) under Wayland.
    QGuiApplication::setDesktopFileName("io.github.vekserv.VekServ");
    try {
        ToolWindows windows;
        windows.form1.show();
        QApplication::exec();
    } catch (const std::exception& e) {
        ShowException(e);
    }
    return 0;
}
