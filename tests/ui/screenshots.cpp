// Renders the main window and each dialog to PNG files, for a person to look at: start
// state, the window after reading the simulator's two-channel and one-channel devices, the
// two settings dialogs and the device list.
// Usage: vek_screenshots OUTPUT_DIR (the platform is offscreen unless one is given).
#include <QDir>
#include <QTest>

#include "line_server.h"
#include "sim_control.h"
#include "ui/Obr_vek.h"
#include "ui/tool_windows.h"
#include "ui/vek_application.h"
#include "ui_Obr_vek.h"
#include "ui_Obrlistdevice.h"

namespace {

bool Save(QWidget& w, const QDir& dir, const QString& name) {
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) return false;
    QApplication::processEvents();
    return w.grab().save(dir.filePath(name + ".png"));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    VekApplication app(argc, argv);
    if (argc < 2) {
        qCritical("usage: vek_screenshots OUTPUT_DIR");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.mkpath(".");
    ToolWindows windows;
    TForm1& form1 = windows.form1;
    auto& formPort = windows.formPort;
    auto& formNastr = windows.formNastr;
    auto& formDevice = windows.formDevice;

    bool ok = Save(form1, dir, "main-start");
    // The demonstration line: a ВЭК-02МЕ at 1 and a ВЭК-01МЕ at 2, read as an operator would.
    vsim::LineServer server;
    server.WithLine([](vsim::VirtualLine& line) { vsim::BuildDemoLine(line); });
    server.Start();
    form1.Link.PortName = server.PortPath();
    form1.Link.OpenPort();
    form1.InPortClick();
    ok = Save(form1, dir, "main-106") && ok;
    form1.ui->CBoxUstr->setCurrentIndex(1);
    form1.CBoxUstrClick(1);
    form1.InPortClick();
    form1.BtnPuskTimerClick();
    ok = Save(form1, dir, "main-105-polling") && ok;
    form1.BtnPuskTimerClick();
    ok = Save(formPort, dir, "port-settings") && ok;
    ok = Save(formNastr, dir, "exchange-settings") && ok;
    // The first two addresses, both answering: no silent address costs seconds here.
    form1.Link.OpenPort();
    formDevice.ui->CBoxUstr->setCurrentIndex(1);
    formDevice.Button1Click();
    ok = Save(formDevice, dir, "device-list") && ok;
    return ok ? 0 : 1;
}
