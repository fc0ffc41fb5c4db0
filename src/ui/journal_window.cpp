#include "ui/journal_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "device/service_journal.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

JournalWindow::JournalWindow(const ServiceJournal& journal, QWidget* owner)
    : QWidget(owner, Qt::Window), journal_(journal) {
    setObjectName("FormJournal");
    setWindowTitle("Журнал работ");
    resize(1100, 560);

    LabCheck = new QLabel(this);
    LabCheck->setObjectName("LabCheck");
    LabCheck->setWordWrap(true);
    LabCheck->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CBoxDevice = new QComboBox(this);
    CBoxDevice->setObjectName("CBoxDevice");
    CBoxDevice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    BtnRefresh = new QPushButton("Обновить", this);
    BtnRefresh->setObjectName("BtnRefresh");
    Grid = new QTableWidget(0, 6, this);
    Grid->setObjectName("Grid");
    Grid->setHorizontalHeaderLabels(
        {"Время", "Устройство", "Действие", "Изменения", "Итог", "Кто"});
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setWordWrap(true);
    Grid->verticalHeader()->hide();
    // The changes take the room that is left; the action and the outcome, often a long
    // message, wrap in columns of their own width, so that no column runs off the window.
    QHeaderView* header = Grid->horizontalHeader();
    const QFontMetrics metrics = Grid->fontMetrics();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(3, QHeaderView::Stretch);
    for (auto [column, sample] :
         {std::pair{2, "корректировка тока: канал 1,"}, std::pair{4, "подтверждено прибором"}}) {
        header->setSectionResizeMode(column, QHeaderView::Interactive);
        header->resizeSection(column, metrics.horizontalAdvance(sample) + 16);
    }
    Grid->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel("Устройство:", this));
    controls->addWidget(CBoxDevice);
    controls->addStretch(1);
    controls->addWidget(BtnRefresh);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabCheck);
    layout->addLayout(controls);
    layout->addWidget(Grid, 1);

    connect(BtnRefresh, &QPushButton::clicked, this, &JournalWindow::Refresh);
    connect(CBoxDevice, &QComboBox::activated, this, &JournalWindow::ShowRows);
    Refresh();
}

void JournalWindow::Refresh() {
    const JournalCheck check = CheckJournal(journal_.Path());
    LabCheck->setText(Text(JournalCheckText(check) + "\n" + journal_.Path()));
    LabCheck->setStyleSheet(check.Whole() ? "color: #006000;"
                                          : "color: #c00000; font-weight: bold;");

    const QString chosen = CBoxDevice->currentText();
    CBoxDevice->clear();
    CBoxDevice->addItem("Все устройства");
    QStringList devices;
    attempts_ = ChangeAttempts(check.entries);
    for (const ChangeAttempt& a : attempts_) {
        const QString device = Text(JournalDeviceText(a.intent));
        if (!devices.contains(device)) devices << device;
    }
    devices.sort();
    CBoxDevice->addItems(devices);
    CBoxDevice->setCurrentIndex(std::max(0, CBoxDevice->findText(chosen)));
    ShowRows();
}

void JournalWindow::ShowRows() {
    const QString device = CBoxDevice->currentIndex() > 0 ? CBoxDevice->currentText() : QString();
    Grid->setRowCount(0);
    for (auto a = attempts_.rbegin(); a != attempts_.rend(); ++a) {
        const JournalEntry& e = a->intent;
        if (!device.isEmpty() && Text(JournalDeviceText(e)) != device) continue;
        const int row = Grid->rowCount();
        Grid->insertRow(row);
        const QString cells[] = {
            Text(e.time),
            Text(JournalDeviceText(e)),
            Text(e.action),
            Text(DifferencesText(e.changes, "\n")),
            Text(a->OutcomeText()),
            Text(e.user + "@" + e.computer + (e.frontEnd == "cli" ? ", vek-cli" : ""))};
        for (int column = 0; column < 6; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column == 4 && (!a->outcome || a->outcome->verdict != kVerdictConfirmed)) {
                item->setForeground(QColor(0xc0, 0, 0));
            }
            Grid->setItem(row, column, item);
        }
    }
}
