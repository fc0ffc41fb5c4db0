// The windows on a real X server, as a window manager sees them: the title each window gives
// the window system, and where the main window stands. CTest runs these under Xvfb with the
// xcb platform; elsewhere they skip.
#include <gtest/gtest.h>

#include <QDialog>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "link/Obrport.h"
#include "link/exchange_settings_dialog.h"
#include "support/scripted_port.h"
#include "ui/Obr_vek.h"
#include "ui/Obrlistdevice.h"

namespace {

bool OnX11() {
    return QGuiApplication::platformName() == "xcb";
}

// The window's _NET_WM_NAME as xprop reads it from the server.
QString WindowSystemTitle(const QWidget& window) {
    QProcess xprop;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    xprop.setProcessEnvironment(env);
    xprop.start("xprop", {"-id", QString::number(window.winId()), "_NET_WM_NAME"});
    if (!xprop.waitForFinished(10000)) return "xprop did not answer";
    // _NET_WM_NAME(UTF8_STRING) = "the title"
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const qsizetype start = out.indexOf("= \"");
    return start < 0 || !out.endsWith('"') ? out : out.mid(start + 3).chopped(1);
}

class X11Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!OnX11()) GTEST_SKIP() << "needs an X server (run by CTest under Xvfb)";
    }
    FakeClock clock;
};

// Every window's title is exactly its caption: nothing is appended to it, not to the main
// window, the dialogs, nor a message box.
TEST_F(X11Desktop, TitlesAreExactlyTheCaptions) {
    TForm1 form1(std::make_unique<ScriptedBackend>(), clock);
    TFormNastr formNastr(form1.Link);
    TFormPort formPort(form1.Link, formNastr);
    form1.FormPort = &formPort;
    TFormDevice formDevice(form1.Link);
    form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form1));
    EXPECT_EQ(WindowSystemTitle(form1), "Сервисная программа ВЭК");
    form1.MonitorClick();
    form1.TrendClick();
    const std::pair<QWidget*, QString> dialogs[] = {
        {&formPort, "Настройка СОМ-порта"},
        {&formNastr, formNastr.windowTitle()},
        {&formDevice, "Список подключенных устройств"},
        {form1.findChild<QWidget*>("FormMonitor"), "Монитор обмена"},
        {form1.findChild<QWidget*>("FormTrend"), "Тренд измерений"},
    };
    for (auto [dialog, caption] : dialogs) {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        EXPECT_EQ(WindowSystemTitle(*dialog), caption);
        dialog->hide();
    }

    QString boxTitle;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box || !QTest::qWaitForWindowExposed(box)) return;
        poll.stop();
        boxTitle = WindowSystemTitle(*box);
        box->reject();
    });
    poll.start(20);
    ShowWarning("Проверка");
    EXPECT_EQ(boxTitle, "Предупреждение");
}

// The main window opens at its size in the middle of the screen's work area.
TEST_F(X11Desktop, MainWindowOpensCentred) {
    TForm1 form1(std::make_unique<ScriptedBackend>(), clock);
    form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form1));
    const QRect area = form1.screen()->availableGeometry();
    ASSERT_GE(area.height(), 725) << "the test's screen is too small";
    EXPECT_EQ(form1.size(), QSize(841, 725));
    EXPECT_LE((form1.frameGeometry().center() - area.center()).manhattanLength(), 2)
        << form1.frameGeometry().x() << "," << form1.frameGeometry().y();
}

}  // namespace
