// The exchange monitor: the frames that pass on the line, with the time, the bytes and a
// verdict on each reply. It records from its first opening until the tool ends, shown or
// not, and only watches: it sends nothing and changes no exchange. The link's exchanges
// hold the window's thread, so the frames of an exchange appear once it has ended.
#pragma once

#include <QTimer>
#include <QWidget>

#include "link/exchange_log.h"

class QLabel;
class QPushButton;
class QTreeView;
class TComPortClass;

class ExchangeMonitor : public QWidget {
    Q_OBJECT
  public:
    // A window of its own over `owner`: it closes with the tool.
    ExchangeMonitor(TComPortClass& link, QWidget* owner);
    ~ExchangeMonitor() override;

    ExchangeLog& Log() { return log_; }
    // Writes the frames it holds to a text file; false, with a message, when it cannot.
    bool SaveTo(const QString& path);

    QTreeView* FrameView;
    QPushButton* BtnPause;
    QPushButton* BtnClear;
    QPushButton* BtnSave;
    QLabel* LabCount;

  public slots:
    // Shows what the log has recorded since the last refresh; keeps the list at its end
    // when it was there.
    void Refresh();
    void SaveClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    class FrameModel;
    TComPortClass& link_;
    ExchangeLog log_;
    FrameModel* model_;
    QTimer refreshTimer_;
    uint64_t shownAdded_ = 0;
    size_t shownRows_ = 0;
};
