// The table of a configuration's differences: a comparison of the device with a file, or the
// changes a write from a file will make, with the two choices of that write (the calibration
// and the device number from the file) updating the table as they are ticked.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "device/config_file.h"

class QCheckBox;
class QLabel;
class QTableWidget;

class ConfigurationDialog : public QDialog {
  public:
    // A comparison: "Поле", "Прибор", "Файл", and a close button.
    ConfigurationDialog(const std::vector<FieldDifference>& differences, QWidget* parent);
    // A write from a file onto the device's block: the changes, the two choices, and
    // "Записать" / "Отмена".
    ConfigurationDialog(std::vector<uint8_t> device, std::vector<uint8_t> file, QWidget* parent);

    QCheckBox* TakeCalibration = nullptr;
    QCheckBox* TakeNumber = nullptr;
    QTableWidget* Table = nullptr;
    QPushButton* Accept = nullptr;

    // A replacement: the device number from the file, the spare's own calibration.
    void ChooseReplacement();
    TakenFromFile Taken() const;
    // The block the write will send with the choices as they stand.
    std::vector<uint8_t> Intended() const;

  private:
    void Build(const QString& title, const QStringList& heading);
    void Show(const std::vector<FieldDifference>& differences);

    std::vector<uint8_t> device_, file_;
    QLabel* note_ = nullptr;
};
