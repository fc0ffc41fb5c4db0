#include "ui/qt_operator_message.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include "common/operator_message.h"

namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MessageButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MessageButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        case MessageButtons::Ok:
            break;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton ToQt(MessageAnswer answer) {
    switch (answer) {
        case MessageAnswer::Yes:
            return QMessageBox::Yes;
        case MessageAnswer::No:
            return QMessageBox::No;
        case MessageAnswer::Cancel:
            return QMessageBox::Cancel;
        case MessageAnswer::Retry:
            return QMessageBox::Retry;
        case MessageAnswer::Ok:
            break;
    }
    return QMessageBox::Ok;
}

MessageAnswer FromQt(int button, MessageButtons buttons) {
    switch (button) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Retry:
            return MessageAnswer::Retry;
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        default:
            // The close box answers Cancel where there is one, else the only button.
            return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    }
}

MessageAnswer ShowMessageBox(const OperatorMessage& m) {
    QMessageBox box(ToQt(m.icon), QString::fromStdString(m.caption), QString::fromStdString(m.text),
                    ToQt(m.buttons));
    box.setWindowModality(Qt::ApplicationModal);
    box.setDefaultButton(ToQt(m.defaultButton));
    if (m.buttons == MessageButtons::YesNo) box.setEscapeButton(QMessageBox::No);
    return FromQt(box.exec(), m.buttons);
}

}  // namespace

void InstallQtMessageResponder() {
    SetMessageResponder(ShowMessageBox);
}

void LoadToolkitTranslation(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Russian), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(translator);
    }
}
