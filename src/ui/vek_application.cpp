#include "vek_application.h"

#include "operator_message.h"
#include "qt_operator_message.h"

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
