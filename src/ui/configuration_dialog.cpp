#include "ui/configuration_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

ConfigurationDialog::ConfigurationDialog(const std::vector<FieldDifference>& differences,
                                         QWidget* parent)
    : QDialog(parent) {
    Build("Сравнение с файлом", {"Поле", "Прибор", "Файл"});
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout()->addWidget(buttons);
    Show(differences);
}

ConfigurationDialog::ConfigurationDialog(std::vector<uint8_t> device, std::vector<uint8_t> file,
                                         QWidget* parent)
    : QDialog(parent), device_(std::move(device)), file_(std::move(file)) {
    Build("Запись из файла", {"Поле", "Сейчас в приборе", "Будет записано"});
    TakeCalibration =
        new QCheckBox("Взять из файла коды АЦП шкал и корректировку тока (тот же прибор)", this);
    TakeNumber = new QCheckBox(
        QString("Взять из файла номер устройства (%1; прибор на замену)").arg(file_[17] + 1), this);
    TakeNumber->setEnabled(file_[17] != device_[17]);
    layout()->addWidget(TakeCalibration);
    layout()->addWidget(TakeNumber);
    auto* buttons = new QDialogButtonBox(this);
    Accept = buttons->addButton("Записать", QDialogButtonBox::AcceptRole);
    buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout()->addWidget(buttons);
    auto refresh = [this] { Show(CompareBlocks(device_, Intended())); };
    connect(TakeCalibration, &QCheckBox::toggled, this, refresh);
    connect(TakeNumber, &QCheckBox::toggled, this, refresh);
    refresh();
}

void ConfigurationDialog::Build(const QString& title, const QStringList& heading) {
    setWindowTitle(title);
    auto* column = new QVBoxLayout(this);
    Table = new QTableWidget(0, 3, this);
    Table->setHorizontalHeaderLabels(heading);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setMinimumSize(640, 300);
    note_ = new QLabel(this);
    column->addWidget(Table);
    column->addWidget(note_);
}

void ConfigurationDialog::Show(const std::vector<FieldDifference>& differences) {
    Table->setRowCount(static_cast<int>(differences.size()));
    for (int row = 0; row < Table->rowCount(); ++row) {
        const FieldDifference& d = differences[static_cast<size_t>(row)];
        int column = 0;
        for (const std::string* text : {&d.label, &d.first, &d.second}) {
            Table->setItem(row, column++, new QTableWidgetItem(QString::fromStdString(*text)));
        }
    }
    note_->setText(differences.empty() ? "Отличий нет"
                                       : QString("Отличий: %1").arg(differences.size()));
    if (Accept) Accept->setEnabled(!differences.empty());
}

void ConfigurationDialog::ChooseReplacement() {
    setWindowTitle("Замена прибора");
    TakeCalibration->setChecked(false);
    TakeNumber->setChecked(TakeNumber->isEnabled());
}

TakenFromFile ConfigurationDialog::Taken() const {
    return {TakeCalibration && TakeCalibration->isChecked(),
            TakeNumber && TakeNumber->isEnabled() && TakeNumber->isChecked()};
}

std::vector<uint8_t> ConfigurationDialog::Intended() const {
    return BlockFromFile(device_, file_, Taken());
}
