#include "ui/exchange_monitor.h"

#include <QAbstractTableModel>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <sstream>

#include "common/saved_text.h"
#include "device/conversions.h"
#include "link/Comportclass.h"
#include "ui/saved_file.h"

// The log's frames as rows; the row count changes only on Refresh, so a frame recorded
// meanwhile is not shown half-way.
class ExchangeMonitor::FrameModel final : public QAbstractTableModel {
  public:
    FrameModel(const ExchangeLog& log, QObject* parent) : QAbstractTableModel(parent), log_(log) {}

    void TakeRows() {
        beginResetModel();
        rows_ = static_cast<int>(log_.Frames().size());
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : rows_; }
    int columnCount(const QModelIndex&) const override { return 7; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const kHeadings[] = {"Время", "",          "Адрес",          "Функция",
                                                "Байты", "Результат", "Ответ через, мс"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return QString::fromUtf8(kHeadings[section]);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const auto row = static_cast<size_t>(index.row());
        if (!index.isValid() || row >= log_.Frames().size()) return {};
        const ExchangeFrame& f = log_.Frames()[row];
        const bool reply = f.direction == ExchangeFrame::Direction::Reply;
        if (role == Qt::ForegroundRole) {
            if (reply && f.verdict != "ответ верен") return QColor(0xcc, 0, 0);
            return {};
        }
        if (role == Qt::TextAlignmentRole &&
            (index.column() == 2 || index.column() == 3 || index.column() == 6)) {
            return int(Qt::AlignRight | Qt::AlignVCenter);
        }
        // A long frame's bytes are cut off in the list: its hint shows them whole.
        if (role == Qt::ToolTipRole && index.column() == 4) {
            return QString::fromStdString(HexText(f.bytes));
        }
        if (role != Qt::DisplayRole) return {};
        switch (index.column()) {
            case 0:
                return QString::fromStdString(WallTimeText(log_.WallMs(f)).substr(11));  // no date
            case 1:
                return reply ? QStringLiteral("← ответ") : QStringLiteral("→ запрос");
            case 2:
                return QString::fromStdString(ExchangeLog::ByteField(f, 0));
            case 3:
                return QString::fromStdString(ExchangeLog::ByteField(f, 1));
            case 4:
                return QString::fromStdString(HexText(f.bytes));
            case 5:
                return QString::fromStdString(f.verdict);
            case 6:
                if (!reply || f.bytes.empty()) return {};
                return QString::fromStdString(FixedText(static_cast<double>(f.replyNs) / 1e6, 1,
                                                        QLocale().decimalPoint().toStdString()));
        }
        return {};
    }

  private:
    const ExchangeLog& log_;
    int rows_ = 0;
};

ExchangeMonitor::ExchangeMonitor(TComPortClass& link, QWidget* owner)
    : QWidget(owner, Qt::Window), link_(link), model_(new FrameModel(log_, this)) {
    setObjectName("FormMonitor");
    setWindowTitle("Монитор обмена");
    resize(920, 480);

    BtnPause = new QPushButton("Пауза", this);
    BtnPause->setObjectName("BtnPause");
    BtnPause->setCheckable(true);
    BtnClear = new QPushButton("Очистить", this);
    BtnClear->setObjectName("BtnClear");
    BtnSave = new QPushButton("Сохранить...", this);
    BtnSave->setObjectName("BtnSave");
    LabCount = new QLabel(this);
    LabCount->setObjectName("LabCount");
    auto* note = new QLabel("Кадры обмена появляются в списке, когда обмен закончен.", this);
    note->setEnabled(false);

    FrameView = new QTreeView(this);
    FrameView->setObjectName("FrameView");
    FrameView->setModel(model_);
    FrameView->setRootIsDecorated(false);
    FrameView->setUniformRowHeights(true);  // 10 000 rows lay out at once
    FrameView->setAlternatingRowColors(true);
    FrameView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FrameView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Every column but the bytes as wide as its longest text; the bytes take the rest.
    const QFontMetrics fm(FrameView->font());
    const char* const widest[] = {"00:00:00.000",   "→ запрос", "Адрес",
                                  "Функция",        "",         "ошибка контрольной суммы",
                                  "Ответ через, мс"};
    QHeaderView* header = FrameView->header();
    header->setStretchLastSection(false);
    for (int column = 0; column < 7; ++column)
        header->resizeSection(column, fm.horizontalAdvance(QString::fromUtf8(widest[column])) + 16);
    header->setSectionResizeMode(4, QHeaderView::Stretch);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BtnPause);
    buttons->addWidget(BtnClear);
    buttons->addWidget(BtnSave);
    buttons->addStretch();
    buttons->addWidget(LabCount);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(FrameView);
    layout->addWidget(note);

    connect(BtnPause, &QPushButton::toggled, this, [this](bool on) { log_.paused = on; });
    connect(BtnClear, &QPushButton::clicked, this, [this] {
        log_.Clear();
        Refresh();
    });
    connect(BtnSave, &QPushButton::clicked, this, &ExchangeMonitor::SaveClick);
    refreshTimer_.setInterval(200);
    connect(&refreshTimer_, &QTimer::timeout, this, &ExchangeMonitor::Refresh);

    log_.wallOffsetNs = WallNowMs() * 1'000'000 - link_.Clock().NowNs();
    link_.Observer = &log_;
    Refresh();
}

ExchangeMonitor::~ExchangeMonitor() {
    if (link_.Observer == &log_) link_.Observer = nullptr;
}

void ExchangeMonitor::Refresh() {
    const size_t rows = log_.Frames().size();
    if (log_.Added() != shownAdded_ || rows != shownRows_) {
        const QScrollBar* bar = FrameView->verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        model_->TakeRows();
        if (atEnd) FrameView->scrollToBottom();
        shownAdded_ = log_.Added();
        shownRows_ = rows;
    }
    LabCount->setText(
        QString("Кадров: %1 (хранятся последние %2)").arg(rows).arg(ExchangeLog::kDefaultCapacity));
}

bool ExchangeMonitor::SaveTo(const QString& path) {
    std::ostringstream text;
    log_.Save(text);
    return SaveTextFile(path, text.str());
}

void ExchangeMonitor::SaveClick() {
    const QString path = QFileDialog::getSaveFileName(this, "Сохранить запись обмена", "обмен.txt",
                                                      "Текстовые файлы (*.txt);;Все файлы (*)");
    if (!path.isEmpty()) SaveTo(path);
}

void ExchangeMonitor::showEvent(QShowEvent* event) {
    Refresh();
    refreshTimer_.start();
    QWidget::showEvent(event);
}

void ExchangeMonitor::hideEvent(QHideEvent* event) {
    refreshTimer_.stop();
    QWidget::hideEvent(event);
}
