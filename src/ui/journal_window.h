// The service journal's window: every change made to a device from this computer, newest
// first, of one device or all, with the verdict of the journal's check above them.
#pragma once

#include <QWidget>
#include <vector>

#include "device/service_journal.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

class JournalWindow : public QWidget {
    Q_OBJECT
  public:
    // A window of its own over `owner`: it closes with the tool.
    JournalWindow(const ServiceJournal& journal, QWidget* owner);

    QLabel* LabCheck;
    QComboBox* CBoxDevice;
    QPushButton* BtnRefresh;
    QTableWidget* Grid;

  public slots:
    // Reads and checks the journal again, keeping the device chosen.
    void Refresh();

  private:
    void ShowRows();

    const ServiceJournal& journal_;
    std::vector<ChangeAttempt> attempts_;
};
