#include "ui/saved_file.h"

#include <QSaveFile>

#include "common/operator_message.h"

bool SaveTextFile(const QString& path, const std::string& text) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) &&
        file.write(text.data(), static_cast<qint64>(text.size())) ==
            static_cast<qint64>(text.size()) &&
        file.commit()) {
        return true;
    }
    ShowOperatorMessage({"Не удалось записать файл\n" + path.toStdString() + "\n" +
                             file.errorString().toStdString(),
                         kProgramTitle, MessageIcon::Error, MessageButtons::Ok, MessageAnswer::Ok});
    return false;
}
