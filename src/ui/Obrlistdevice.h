// The device list dialog: asks every bus address from 1 up to a chosen number for its
// identification and lists the devices that answer, with the names of their models. It keeps
// its list and its choice from one opening to the next.
#pragma once

#include <QDialog>
#include <memory>

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

  public slots:
    void Button1Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FormCreate();
    void SetCell(int column, int row, const QString& text);
    void StepProgress();

    TComPortClass& link_;
};
