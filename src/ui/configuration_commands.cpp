// The configuration file commands of the main window: the device that was read saved to a
// file, compared with one, or given a file's settings through the one write path and read
// back to prove it.
#include <QDate>

#include "common/operator_message.h"
#include "common/saved_text.h"
#include "ui/Obr_vek.h"
#include "ui/configuration_dialog.h"
#include "ui/device_report.h"
#include "ui_Obr_vek.h"

void TForm1::SaveConfigClick() {
    OperationUnderWay underWay(*this);
    if (!Record.HoldsWritableBlock()) return ShowWarning(kNoDeviceDataText);
    if (Record.Changed) {
        return ShowWarning(
            "Данные были изменены и не переданы в прибор.\nПередайте их (F10) или прочитайте "
            "прибор (F9), затем сохраните");
    }
    const QString suggested = QString("%1-%2.json")
                                  .arg(QString::fromUtf8(ModelName(Record.TypeCode)))
                                  .arg(Record.DeviceNumber + 1);
    const QString path = ChooseConfigFile ? ChooseConfigFile(true, suggested) : QString();
    if (path.isEmpty()) return;
    const DeviceConfiguration c = ConfigurationOf(Record, Link.PortName, Link.Baud());
    if (const auto error = SaveConfiguration(path.toStdString(), c)) ShowError(*error);
}

std::optional<DeviceConfiguration> TForm1::LoadConfigFile() {
    const QString path = ChooseConfigFile ? ChooseConfigFile(false, QString()) : QString();
    if (path.isEmpty()) return std::nullopt;
    ParsedConfiguration parsed = LoadConfiguration(path.toStdString());
    if (!parsed.configuration) {
        ShowError("Файл не принят:\n" + parsed.error);
        return std::nullopt;
    }
    return std::move(parsed.configuration);
}

void TForm1::CompareConfigClick() {
    OperationUnderWay underWay(*this);
    if (!Record.HoldsWritableBlock()) return ShowWarning(kNoDeviceDataText);
    const std::optional<DeviceConfiguration> file = LoadConfigFile();
    if (!file) return;
    const std::vector<FieldDifference> differences = CompareBlocks(BlockOf(Record), file->block);
    if (differences.empty()) {
        return ShowInformation("Прибор и файл не отличаются", "Сравнение с файлом");
    }
    ConfigurationDialog dialog(differences, this);
    if (RunConfigDialog) RunConfigDialog(dialog);
}

// The file's settings go to the device through the write (F10) with all its checks; the
// device's read-back block must then be the intended one, byte for byte.
void TForm1::WriteConfigClick() {
    WriteFromFile(false);
}

// A spare takes the settings and the number of the device it replaces, from that device's
// file, and keeps its own calibration; one message says at the end what it now holds.
void TForm1::ReplaceDeviceClick() {
    WriteFromFile(true);
}

void TForm1::WriteFromFile(bool replacement) {
    OperationUnderWay underWay(*this);
    const char* const caption = replacement ? "Замена прибора" : "Запись из файла";
    if (!Record.HoldsWritableBlock()) return ShowWarning(kNoDeviceDataText);
    const std::optional<DeviceConfiguration> file = LoadConfigFile();
    if (!file) return;
    if (file->type != Record.TypeCode)
        return ShowWarning(OtherModelText(file->type, Record.TypeCode));
    if (file->version != Record.Version &&
        ShowOperatorMessage(
            {"Версия прибора в файле " + std::to_string(file->version) + ", у прибора " +
                 std::to_string(Record.Version) + ".\nЗаписать настройки из файла?",
             caption, MessageIcon::Question, MessageButtons::YesNo, MessageAnswer::No}) !=
            MessageAnswer::Yes) {
        return;
    }
    // Nothing that any choice could change: nothing to write.
    if (BlockFromFile(BlockOf(Record), file->block, {true, true}) == BlockOf(Record)) {
        return ShowInformation("Прибор и файл не отличаются", caption);
    }
    ConfigurationDialog dialog(BlockOf(Record), file->block, this);
    if (replacement) dialog.ChooseReplacement();
    if (!RunConfigDialog || !RunConfigDialog(dialog)) return;

    const std::vector<uint8_t> intended = dialog.Intended();
    StopPollingIfRunning();
    Record.SetBlock(intended);
    Record.NewDeviceNumber = intended[17];
    Record.Changed = 1;
    ShowValues();
    ui->CBoxUstrZ->setCurrentIndex(Record.NewDeviceNumber);
    {
        WriteAction action(*this, replacement ? "замена прибора" : "запись из файла");
        if (!OutPortClick()) return;  // the write has said why
    }
    if (BlockOf(Record) != intended) {
        return ShowWarning("Прочитанная из прибора база отличается от записанной:\n" +
                           DifferencesText(CompareBlocks(intended, BlockOf(Record)), "\n"));
    }
    std::string text = "Настройки из файла записаны, прибор их подтвердил";
    if (replacement) {
        text = "Прибор на замену работает как устройство " +
               std::to_string(Record.DeviceNumber + 1) + " (" + ModelName(Record.TypeCode) + "):";
        for (const ConfigurationField& f : DecodeBlock(BlockOf(Record))) {
            if (f.key.rfind("setpoint_", 0) == 0 || f.key.rfind("alarm_", 0) == 0 ||
                f.key.rfind("contact_", 0) == 0 || f.key.rfind("characteristic_", 0) == 0 ||
                f.key.rfind("range_", 0) == 0 || f.key.rfind("break_", 0) == 0) {
                text += "\n" + f.label + ": " + f.value;
            }
        }
        text += dialog.Taken().calibration ? "\nКоды АЦП шкал и корректировка тока — из файла"
                                           : "\nКоды АЦП шкал и корректировка тока — свои";
    }
    ShowInformation(text, caption);
}

// The device as read, with its journal, in a PDF to hand over.
void TForm1::ReportClick() {
    OperationUnderWay underWay(*this);
    if (!Record.HoldsWritableBlock()) return ShowWarning(kNoDeviceDataText);
    const QString suggested = QString("%1-%2-%3.pdf")
                                  .arg(QString::fromUtf8(ModelName(Record.TypeCode)))
                                  .arg(Record.DeviceNumber + 1)
                                  .arg(QDate::currentDate().toString("yyyy-MM-dd"));
    const QString path = ChooseReportFile ? ChooseReportFile(suggested) : QString();
    if (path.isEmpty()) return;
    const QString html =
        DeviceReportHtml(Record, Link.PortName, Link.Baud(), CheckJournal(Journal.Path()));
    if (const auto error = WriteDeviceReport(path, html)) ShowError(*error);
}
