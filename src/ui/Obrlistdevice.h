// The device list dialog: asks every bus address from 1 up to a chosen number for its
// identification and lists the devices that answer, with the names of their models. It keeps
// its list and its choice from one opening to the next. The search runs one address a step
// from the event loop, so that the dialog paints and can be stopped between steps; the fast
// search is an option. The list can be copied or saved as CSV.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "device/line_search.h"

class TComPortClass;
namespace Ui {
class TFormDevice;
}

class TFormDevice : public QDialog {
    Q_OBJECT
  public:
    // Created without an owner window: its controls repeat names of the main window's.
    explicit TFormDevice(TComPortClass& link, QWidget* parent = nullptr);
    ~TFormDevice() override;

    // The text of a grid cell: row 0 is the heading, rows 1..32 the found devices.
    QString Cells(int column, int row) const;

    std::unique_ptr<Ui::TFormDevice> ui;

    // True while a search runs; its steps come from the event loop, or from ScanStep.
    bool Scanning() const { return search_ != nullptr; }
    // The devices of the last search, with their versions and reply times.
    const std::vector<FoundDevice>& Found() const { return found_; }
    // The file to save the list to (a file dialog unless a test sets another); empty: none.
    std::function<QString()> ChooseCsvFile;

  public slots:
    void Button1Click();
    // One address of the search under way.
    void ScanStep();
    void StopClick();
    void CopyClick();
    void SaveClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

  private:
    void FormCreate();
    void SetCell(int column, int row, const QString& text);
    void StepProgress();
    void ShowFound();
    void FinishScan();

    TComPortClass& link_;
    std::unique_ptr<LineSearch> search_;
    std::vector<FoundDevice> found_;
};
