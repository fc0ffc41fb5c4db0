#include "ui/Obrlistdevice.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "device/device_exchanges.h"
#include "link/Comportclass.h"
#include "ui/closed_list_guard.h"
#include "ui/saved_file.h"
#include "ui_Obrlistdevice.h"

namespace {

constexpr int kGridRows = 32;  // below the heading
constexpr int kProgressStep = 10;

}  // namespace

TFormDevice::TFormDevice(TComPortClass& link, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TFormDevice>()), link_(link) {
    ui->setupUi(this);
    ui->CBoxUstr->setCurrentIndex(-1);
    new ClosedListGuard(*this);
    connect(ui->Button1, &QPushButton::clicked, this, &TFormDevice::Button1Click);
    connect(ui->ButtonStop, &QPushButton::clicked, this, &TFormDevice::StopClick);
    connect(ui->ButtonCopy, &QPushButton::clicked, this, &TFormDevice::CopyClick);
    connect(ui->ButtonSave, &QPushButton::clicked, this, &TFormDevice::SaveClick);
    connect(ui->FastScan, &QCheckBox::toggled, ui->UpDownWait, &QWidget::setEnabled);
    // The wait is set with the arrows, as the exchange settings' delay is.
    ui->UpDownWait->findChild<QLineEdit*>()->setReadOnly(true);
    ui->UpDownWait->setValue(FirstByteWaitFor(9600));
    ChooseCsvFile = [this] {
        return QFileDialog::getSaveFileName(this, "Сохранить список", "устройства.csv",
                                            "Файлы CSV (*.csv);;Все файлы (*)");
    };

    FormCreate();
    QTableWidget* grid = ui->StringGrid1;
    QHeaderView* heading = grid->horizontalHeader();
    heading->setFixedHeight(20);
    heading->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The designed widths, or wider where this desktop's font needs more for a heading.
    grid->setColumnWidth(0, std::max(87, heading->sectionSizeHint(0)));
    grid->setColumnWidth(1, std::max(100, heading->sectionSizeHint(1)));
    grid->setFixedWidth(grid->columnWidth(0) + grid->columnWidth(1) +
                        grid->verticalScrollBar()->sizeHint().width() + 2 * grid->frameWidth());
    grid->setMinimumHeight(20 * 12 + 2 * grid->frameWidth());
    // The bar takes its place in the layout while hidden, so that a scan does not move the
    // grid.
    QSizePolicy keep = ui->ProgressBar1->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ui->ProgressBar1->setSizePolicy(keep);
}

TFormDevice::~TFormDevice() = default;

void TFormDevice::FormCreate() {
    ui->StringGrid1->setHorizontalHeaderLabels({" № устройства", "Тип устройства"});
}

// Centred on the screen's work area at every showing. The first-byte wait follows the line
// speed until the operator sets one.
void TFormDevice::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!ui->FastScan->isChecked()) {
        ui->UpDownWait->setValue(FirstByteWaitFor(link_.Baud()));
    }
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

QString TFormDevice::Cells(int column, int row) const {
    const QTableWidgetItem* item = row == 0 ? ui->StringGrid1->horizontalHeaderItem(column)
                                            : ui->StringGrid1->item(row - 1, column);
    return item ? item->text() : QString();
}

void TFormDevice::SetCell(int column, int row, const QString& text) {
    QTableWidgetItem* item = ui->StringGrid1->item(row - 1, column);
    if (!item) ui->StringGrid1->setItem(row - 1, column, item = new QTableWidgetItem);
    item->setText(text);
}

// One step of the bar; a step past the maximum starts over from the minimum.
void TFormDevice::StepProgress() {
    QProgressBar* bar = ui->ProgressBar1;
    const int next = bar->value() + kProgressStep;
    bar->setValue(next > bar->maximum() ? bar->minimum() : next);
}

void TFormDevice::Button1Click() {
    if (Scanning() || ui->CBoxUstr->currentText().isEmpty()) return;
    for (int row = 1; row <= kGridRows; ++row) {
        SetCell(0, row, QString());
        SetCell(1, row, QString());
    }
    found_.clear();
    QProgressBar* bar = ui->ProgressBar1;
    bar->setMaximum(100);
    bar->setValue(0);
    bar->show();
    const int highest = ui->CBoxUstr->currentText().toInt();
    search_ = std::make_unique<LineSearch>(link_, highest,
                                           ui->FastScan->isChecked() ? ui->UpDownWait->value() : 0);
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->Button1, ui->CBoxUstr, ui->FastScan, ui->UpDownWait,
                                         ui->ButtonCopy, ui->ButtonSave}) {
        w->setEnabled(false);
    }
    ui->ButtonStop->setEnabled(true);
    ScanStep();
}

// One address, then back to the event loop, which paints and takes a stop before the next.
void TFormDevice::ScanStep() {
    if (!search_) return;
    if (!search_->Done()) {
        StepProgress();
        try {
            search_->Step();
        } catch (...) {
            FinishScan();
            throw;
        }
        ShowFound();
    }
    if (search_->Done()) return FinishScan();
    QTimer::singleShot(0, this, &TFormDevice::ScanStep);
}

void TFormDevice::ShowFound() {
    found_ = search_->Found();
    int row = 0;
    for (const FoundDevice& f : found_) {
        ++row;
        SetCell(0, row, QString::number(f.address));
        SetCell(1, row, QString::fromUtf8(ModelName(f.type)));
    }
}

// The search ends: at its end, at a stop, or at a port that cannot be used, which is reported.
void TFormDevice::FinishScan() {
    const std::unique_ptr<LineSearch> search = std::move(search_);
    if (search->PortResult() != lrOk) {
        link_.ReportError(search->PortResultAddress() - 1, search->PortResult());
    }
    ui->ProgressBar1->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{ui->Button1, ui->CBoxUstr, ui->FastScan,
                                                      ui->ButtonCopy, ui->ButtonSave}) {
        w->setEnabled(true);
    }
    ui->UpDownWait->setEnabled(ui->FastScan->isChecked());
    ui->ButtonStop->setEnabled(false);
}

void TFormDevice::StopClick() {
    if (search_) search_->Stop();
}

// A dialog closed during a search stops it.
void TFormDevice::done(int result) {
    StopClick();
    QDialog::done(result);
}

void TFormDevice::CopyClick() {
    QApplication::clipboard()->setText(QString::fromStdString(FoundDevicesCsv(found_)));
}

void TFormDevice::SaveClick() {
    const QString path = ChooseCsvFile ? ChooseCsvFile() : QString();
    if (!path.isEmpty()) SaveTextFile(path, FoundDevicesCsv(found_));
}
