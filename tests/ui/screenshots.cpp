// Renders the main window and each dialog to PNG files, for a person to look at: start
// state, the window after reading the simulator's two-channel and one-channel devices, the
// two settings dialogs, the device list, and the exchange monitor and the trend after
// half a minute of polling with a bad-checksum fault on the way.
// Usage: vek_screenshots OUTPUT_DIR (the platform is offscreen unless one is given).
#include <QComboBox>
#include <QDir>
#include <QTest>
#include <QTreeView>
#include <cmath>

#include "line_server.h"
#include "scan_to_end.h"
#include "sim_control.h"
#include "ui/Obr_vek.h"
#include "ui/exchange_monitor.h"
#include "ui/tool_windows.h"
#include "ui/trend_window.h"
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
    ScanToEnd(formDevice);
    ok = Save(formDevice, dir, "device-list") && ok;

    // Polling the two-channel device while its pressures move; one tick meets a bad checksum,
    // and polling is started again. Its message goes to the standard error stream.
    SetMessageResponder({});
    form1.MonitorClick();
    form1.TrendClick();
    auto* trend = form1.findChild<TrendWindow*>("FormTrend");
    trend->CBoxSpan->setCurrentIndex(0);  // the last minute
    trend->Refresh();
    form1.ui->CBoxUstr->setCurrentIndex(0);
    form1.CBoxUstrClick(0);
    form1.InPortClick();
    form1.BtnPuskTimerClick();
    // The window's own polling, every 3 s.
    for (int tick = 0; tick < 12; ++tick) {
        server.WithLine([&](vsim::VirtualLine& line) {
            vsim::VirtualDevice* d = line.Find(1);
            d->SetPressure(1, 50 + 30 * std::sin(tick / 2.0));
            d->SetPressure(2, 20 + tick * 4.5);
            d->faults.badCrc = tick == 7;
        });
        if (!form1.Timer1.isActive()) form1.BtnPuskTimerClick();  // the failure stopped it
        QTest::qWait(3000);
    }
    form1.BtnPuskTimerClick();
    auto* monitor = form1.findChild<ExchangeMonitor*>("FormMonitor");
    monitor->Refresh();
    // The failed tick in view.
    QAbstractItemModel* frames = monitor->FrameView->model();
    for (int row = 0; row < frames->rowCount(); ++row) {
        if (frames->index(row, 5).data().toString() == "ошибка контрольной суммы") {
            monitor->FrameView->scrollTo(frames->index(row + 8, 0));
            break;
        }
    }
    ok = Save(*monitor, dir, "exchange-monitor") && ok;
    ok = Save(*trend, dir, "trend") && ok;
    return ok ? 0 : 1;
}
