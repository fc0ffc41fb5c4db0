// The live trend: the results of the device shown against time, in kPa and in % of the
// output range, one curve a channel, its setpoints as dashed lines. It is fed by every
// completed read (polling ticks included) and only paints when the window is shown, after
// the read has returned: it never delays an exchange.
#pragma once

#include <QWidget>

#include "device/measurement_trend.h"

class QComboBox;
class QLabel;
class QPushButton;

class TrendWindow : public QWidget {
    Q_OBJECT
  public:
    // A window of its own over `owner`: it closes with the tool.
    TrendWindow(MeasurementTrend& trend, QWidget* owner);

    // Writes the samples it holds as CSV; false, with a message, when it cannot.
    bool SaveTo(const QString& path);
    // The time the curves span, in ms.
    int64_t SpanMs() const;

    QComboBox* CBoxSpan;
    QPushButton* BtnClear;
    QPushButton* BtnSave;
    QLabel* LabSource;

  public slots:
    // Takes the samples added since the last refresh.
    void Refresh();
    void SaveClick();

  private:
    class Plot;
    MeasurementTrend& trend_;
    Plot* pressurePlot_;
    Plot* percentPlot_;
};
