#include "ui/vek_application.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>
#endif

#include "common/operator_message.h"
#include "ui/qt_operator_message.h"

void ChooseFontEngineUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const bool underWine = ntdll && ::GetProcAddress(ntdll, "wine_get_version");
    if (underWine && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
    }
#endif
}

VekApplication::VekApplication(int& argc, char** argv) : QApplication(argc, argv) {
    LoadToolkitTranslation(*this);
    InstallQtMessageResponder();
}

bool VekApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
    }
    return false;
}

void ShowException(const std::exception& e) {
    ShowOperatorMessage(
        {e.what(), kProgramTitle, MessageIcon::Error, MessageButtons::Ok, MessageAnswer::Ok});
}

#ifndef _WIN32
namespace {
int signalSockets[2] = {-1, -1};

// Only async-signal-safe work here: the loop hears of it through the socket.
void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalSockets[1], &byte, 1);
}
}  // namespace

void QuitOnTerminationSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0) return;
    auto* notifier = new QSocketNotifier(signalSockets[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
#else
void QuitOnTerminationSignals(QApplication&) {}
#endif
