// The application object of the tool.
#pragma once

#include <QApplication>
#include <exception>

class VekApplication : public QApplication {
  public:
    VekApplication(int& argc, char** argv);
    // Exceptions that leave an event handler are shown to the operator, and the program goes
    // on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The application's standard display of an exception: an error box with its text.
void ShowException(const std::exception& e);
