// The application object of the tool.
#pragma once

#include <QApplication>
#include <exception>

// Under Wine, the Windows program draws its texts with Qt's own font engine: Wine's GDI
// leaves the text of edits empty. Call before the application object is made; an explicit
// -platform argument or QT_QPA_PLATFORM wins. Does nothing elsewhere.
void ChooseFontEngineUnderWine();

class VekApplication : public QApplication {
  public:
    VekApplication(int& argc, char** argv);
    // Exceptions that leave an event handler are shown to the operator, and the program goes
    // on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The application's standard display of an exception: an error box with its text.
void ShowException(const std::exception& e);

// SIGTERM and SIGINT (the session ending, Ctrl+C in a terminal, a service manager) end the
// message loop, so that the windows are destroyed and the port closed as at a normal end,
// with exit status 0. Does nothing on Windows.
void QuitOnTerminationSignals(QApplication& app);
