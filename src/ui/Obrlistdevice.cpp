#include "ui/Obrlistdevice.h"

#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

#include "device/device_exchanges.h"
#include "link/Comportclass.h"
#include "ui/closed_list_guard.h"
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

// Centred on the screen's work area at every showing.
void TFormDevice::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
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

// One step of the bar; a step past the maximum starts over from the minimum. The exchanges
// hold the user-interface thread, so the bar paints at once.
void TFormDevice::StepProgress() {
    QProgressBar* bar = ui->ProgressBar1;
    const int next = bar->value() + kProgressStep;
    bar->setValue(next > bar->maximum() ? bar->minimum() : next);
    bar->repaint();
}

void TFormDevice::Button1Click() {
    if (ui->CBoxUstr->currentText().isEmpty()) return;
    for (int row = 1; row <= kGridRows; ++row) {
        SetCell(0, row, QString());
        SetCell(1, row, QString());
    }
    QProgressBar* bar = ui->ProgressBar1;
    bar->setMaximum(100);
    bar->setValue(0);
    bar->show();
    // Hides the bar, and the guard below restores the attempts, however the scan ends.
    struct HideBar {
        QProgressBar* bar;
        ~HideBar() { bar->hide(); }
    } hideBar{bar};
    ScopedStage1Attempts attempts(link_, kSearchStage1Attempts);

    const int highest = ui->CBoxUstr->currentText().toInt();
    int found = 0;
    for (int number = 0; number < highest; ++number) {
        StepProgress();
        const Identification id = Identify(link_, number);
        const int32_t result = id.result;
        if (result == lrOk) {
            ++found;
            SetCell(0, found, QString::number(number + 1));
            SetCell(1, found, QString::fromUtf8(ModelName(id.type)));
        } else if ((result >= lrPortOpenFailed && result <= lrPortSetupError) ||
                   result == lrPortFailed) {
            link_.ReportError(number, result);
            return;
        }
        // Any other failure leaves the address out of the list.
    }
}
