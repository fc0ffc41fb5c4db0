// Renders the main window and each dialog to PNG files, for a person to look at: start
// state, the window laid out for a two-channel device, and the two settings dialogs.
// Usage: vek_screenshots OUTPUT_DIR (the platform is offscreen unless one is given).
#include <QDir>
#include <QLabel>
#include <QTest>

#include "link/Obrport.h"
#include "link/exchange_settings_dialog.h"
#include "ui/Obr_vek.h"
#include "ui/vek_application.h"
#include "ui_Obr_vek.h"

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
    TForm1 form1;
    TFormPort formPort(form1);
    form1.FormPort = &formPort;
    TFormNastr formNastr(form1.Link);
    form1.FormNastr = &formNastr;

    bool ok = Save(form1, dir, "main-start");
    // Laid out as for a ВЭК-02МЕ, with the longest texts the fields take.
    Ui::TForm1& ui = *form1.ui;
    ui.Panel1->setMinimumWidth(300);
    ui.Panel1->setText("ВЭК-02МЕ  735218.004-04  ПО.V1  0x2C74E9A6");
    ui.Label27->setText("привилегированный");
    for (QWidget* w :
         {static_cast<QWidget*>(ui.LabReg), static_cast<QWidget*>(ui.GBoxKanal),
          static_cast<QWidget*>(ui.GBoxSign2), static_cast<QWidget*>(ui.GBoxKanal2),
          static_cast<QWidget*>(ui.LabTimer), static_cast<QWidget*>(ui.ProgressBar1)}) {
        w->show();
    }
    for (QLabel* value : form1.findChildren<QLabel*>(QRegularExpression("^St"))) {
        value->setText("-32768");
    }
    ok = Save(form1, dir, "main-106") && ok;
    ok = Save(formPort, dir, "port-settings") && ok;
    ok = Save(formNastr, dir, "exchange-settings") && ok;
    return ok ? 0 : 1;
}
