#include "ui/trend_window.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <sstream>

#include "common/saved_text.h"
#include "device/conversions.h"
#include "ui/saved_file.h"

namespace {

const QColor kChannelColours[2] = {QColor(0x00, 0x50, 0xc0), QColor(0xc0, 0x30, 0x00)};

// A round step for about `count` divisions of `range`: 1, 2 or 5 times a power of ten.
double RoundStep(double range, int count) {
    const double raw = range / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw) return m * power;
    }
    return 10 * power;
}

QString AxisNumber(double value, double step) {
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
    return QString::fromStdString(
        FixedText(value, decimals, QLocale().decimalPoint().toStdString()));
}

}  // namespace

// One quantity of every channel against time.
class TrendWindow::Plot final : public QWidget {
  public:
    enum class Quantity { Kpa, Percent };
    Plot(const MeasurementTrend& trend, TrendWindow& window, Quantity quantity)
        : QWidget(&window), trend_(trend), window_(window), quantity_(quantity) {
        setMinimumSize(400, 160);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, Qt::white);
        setPalette(p);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QFontMetrics fm = fontMetrics();
        const QRect area = rect().adjusted(fm.horizontalAdvance("-00000,0") + 8, fm.height() + 6,
                                           -10, -fm.height() - 6);
        painter.setPen(Qt::black);
        painter.drawText(area.left(), fm.ascent() + 2,
                         quantity_ == Quantity::Kpa ? "Давление, кПа" : "Выход, % диапазона");

        const auto& samples = trend_.Samples();
        if (samples.empty()) {
            painter.setPen(Qt::gray);
            painter.drawText(area, Qt::AlignCenter,
                             "Нет измерений: прочтите устройство (F9) или включите опрос");
            return;
        }
        const TrendSample& last = samples.back();
        const int channels = last.Channels();
        const int64_t endMs = last.timeMs;
        const int64_t startMs = endMs - window_.SpanMs();
        size_t first = samples.size();
        while (first > 0 && samples[first - 1].timeMs >= startMs)
            --first;

        // The vertical range: every value shown and the setpoints.
        double low = INFINITY, high = -INFINITY;
        auto take = [&](double v) {
            if (std::isnan(v)) return;
            low = std::min(low, v);
            high = std::max(high, v);
        };
        for (size_t i = first; i < samples.size(); ++i) {
            for (int ch = 0; ch < channels; ++ch)
                take(Value(samples[i], ch));
        }
        for (int sp = 0; sp < 2; ++sp)
            take(Setpoint(last, sp));
        if (low > high) low = 0, high = 1;
        if (high - low < 1e-9) low -= 1, high += 1;
        const double step = RoundStep(high - low, 5);
        low = std::floor(low / step) * step;
        high = std::ceil(high / step) * step;

        auto x = [&](int64_t ms) {
            return area.left() + area.width() * double(ms - startMs) / double(endMs - startMs);
        };
        auto y = [&](double v) { return area.bottom() - area.height() * (v - low) / (high - low); };

        // Grid and scales.
        painter.setPen(QColor(0xdd, 0xdd, 0xdd));
        // Counted, not summed: a step below the values' precision cannot make it endless.
        const int marks = std::min(20, static_cast<int>(std::lround((high - low) / step)));
        for (int mark = 0; mark <= marks; ++mark) {
            const double v = low + mark * step;
            painter.setPen(QColor(0xdd, 0xdd, 0xdd));
            painter.drawLine(QPointF(area.left(), y(v)), QPointF(area.right(), y(v)));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(0, y(v) - fm.height() / 2.0, area.left() - 4, fm.height()),
                             Qt::AlignRight | Qt::AlignVCenter, AxisNumber(v, step));
        }
        const int64_t tickMs = TimeStepMs(endMs - startMs);
        for (int64_t t = (startMs / tickMs + 1) * tickMs; t <= endMs; t += tickMs) {
            painter.setPen(QColor(0xdd, 0xdd, 0xdd));
            painter.drawLine(QPointF(x(t), area.top()), QPointF(x(t), area.bottom()));
            painter.setPen(Qt::black);
            const QString text = QString::fromStdString(WallTimeText(t).substr(11, 8));
            painter.drawText(QRectF(x(t) - 40, area.bottom() + 3, 80, fm.height()),
                             Qt::AlignHCenter, text);
        }
        painter.setPen(Qt::gray);
        painter.drawRect(area);

        // Setpoints, then the curves; a value that is missing breaks its curve.
        for (int sp = 0; sp < 2; ++sp) {
            const double v = Setpoint(last, sp);
            if (std::isnan(v)) continue;
            painter.setPen(
                QPen(kChannelColours[last.SetpointChannel(sp + 1) - 1], 1, Qt::DashLine));
            painter.drawLine(QPointF(area.left(), y(v)), QPointF(area.right(), y(v)));
            painter.drawText(QPointF(area.left() + 4, y(v) - 3), QString("уставка %1").arg(sp + 1));
        }
        painter.setClipRect(area.adjusted(-3, -3, 3, 3));
        const bool dots = samples.size() - first <= 200;
        for (int ch = 0; ch < channels; ++ch) {
            QPainterPath path;
            bool open = false;
            painter.setPen(QPen(kChannelColours[ch], 1.6));
            for (size_t i = first; i < samples.size(); ++i) {
                const double v = Value(samples[i], ch);
                if (std::isnan(v)) {
                    open = false;
                    continue;
                }
                const QPointF point(x(samples[i].timeMs), y(v));
                open ? path.lineTo(point) : path.moveTo(point);
                open = true;
                if (dots) painter.drawEllipse(point, 2, 2);
            }
            painter.drawPath(path);
        }
        painter.setClipping(false);

        // The legend.
        int right = area.right();
        for (int ch = channels - 1; ch >= 0; --ch) {
            const QString text = QString("канал %1").arg(ch + 1);
            right -= fm.horizontalAdvance(text);
            painter.setPen(kChannelColours[ch]);
            painter.drawText(right, fm.ascent() + 2, text);
            painter.fillRect(right - 22, fm.ascent() / 2 + 2, 16, 2, kChannelColours[ch]);
            right -= 36;
        }
    }

  private:
    double Value(const TrendSample& s, int channel) const {
        return quantity_ == Quantity::Kpa ? s.kpa[channel] : s.percent[channel];
    }
    double Setpoint(const TrendSample& s, int setpoint) const {
        return quantity_ == Quantity::Kpa ? s.setpointKpa[setpoint] : s.setpointPercent[setpoint];
    }
    // A round time between the scale's marks: at most six of them.
    static int64_t TimeStepMs(int64_t spanMs) {
        for (int64_t s : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600}) {
            if (spanMs / (s * 1000) <= 6) return s * 1000;
        }
        return 7200 * 1000;
    }

    const MeasurementTrend& trend_;
    const TrendWindow& window_;
    Quantity quantity_;
};

TrendWindow::TrendWindow(MeasurementTrend& trend, QWidget* owner)
    : QWidget(owner, Qt::Window), trend_(trend) {
    setObjectName("FormTrend");
    setWindowTitle("Тренд измерений");
    resize(760, 560);

    LabSource = new QLabel(this);
    LabSource->setObjectName("LabSource");
    CBoxSpan = new QComboBox(this);
    CBoxSpan->setObjectName("CBoxSpan");
    for (int minutes : {1, 10, 60})
        CBoxSpan->addItem(QString("%1 мин").arg(minutes), minutes);
    CBoxSpan->setCurrentIndex(1);
    BtnClear = new QPushButton("Очистить", this);
    BtnClear->setObjectName("BtnClear");
    BtnSave = new QPushButton("Сохранить CSV...", this);
    BtnSave->setObjectName("BtnSave");
    pressurePlot_ = new Plot(trend_, *this, Plot::Quantity::Kpa);
    percentPlot_ = new Plot(trend_, *this, Plot::Quantity::Percent);

    auto* controls = new QHBoxLayout;
    controls->addWidget(LabSource, 1);
    controls->addWidget(new QLabel("Последние", this));
    controls->addWidget(CBoxSpan);
    controls->addWidget(BtnClear);
    controls->addWidget(BtnSave);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(pressurePlot_, 1);
    layout->addWidget(percentPlot_, 1);

    connect(CBoxSpan, &QComboBox::activated, this, &TrendWindow::Refresh);
    connect(BtnClear, &QPushButton::clicked, this, [this] {
        trend_.Clear();
        Refresh();
    });
    connect(BtnSave, &QPushButton::clicked, this, &TrendWindow::SaveClick);
    Refresh();
}

int64_t TrendWindow::SpanMs() const {
    return CBoxSpan->currentData().toInt() * 60'000LL;
}

void TrendWindow::Refresh() {
    const auto& samples = trend_.Samples();
    if (samples.empty()) {
        LabSource->setText("Нет измерений");
    } else {
        const TrendSample& last = samples.back();
        LabSource->setText(QString("Устройство %1, %2, порт %3; точек: %4")
                               .arg(last.deviceNumber + 1)
                               .arg(last.Model())
                               .arg(QString::fromStdString(trend_.Port()))
                               .arg(samples.size()));
    }
    pressurePlot_->update();
    percentPlot_->update();
}

bool TrendWindow::SaveTo(const QString& path) {
    std::ostringstream text;
    trend_.SaveCsv(text);
    return SaveTextFile(path, text.str());
}

void TrendWindow::SaveClick() {
    const QString path = QFileDialog::getSaveFileName(this, "Сохранить тренд", "тренд.csv",
                                                      "Файлы CSV (*.csv);;Все файлы (*)");
    if (!path.isEmpty()) SaveTo(path);
}
