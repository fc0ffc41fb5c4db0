// The main window: the device line, the channel groups and the setpoint group of the one
// device shown, and the commands of the tool. It owns the serial port, the link and the
// device record for its whole life.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <memory>

#include "device/Obrnastr.h"
#include "link/Comportclass.h"
#include "link/Cport.h"
#include "ui/operator_message.h"

class TFormPort;
class TFormNastr;
class QCloseEvent;
namespace Ui {
class TForm1;
}

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // backend: the serial port's platform backend; the system's when none is given.
    explicit TForm1(std::unique_ptr<ComPortBackend> backend = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    // Declared in this order so that destruction frees the record, then the link, then the
    // port (which closes itself).
    TComPort ComPort1;
    TComPortClass Link;
    TProgVEKClass Record;

    std::unique_ptr<Ui::TForm1> ui;
    QTimer Timer1;
    // Set while failed exchanges are reported to the operator; clear exactly while polling
    // runs.
    int32_t ReportErrors = 1;

    // The dialogs, created after the main window.
    TFormPort* FormPort = nullptr;
    TFormNastr* FormNastr = nullptr;

  public slots:
    void PortClick();
    void InPortClick();
    void OutPortClick();
    void ListDeviceClick();
    void N4ParolClick();
    void BtnPuskTimerClick();
    void Timer1Timer();
    void CBoxUstrClick(int index);

  public:
    // Stops polling the way its start/stop button does, when it runs.
    void StopPollingIfRunning();
    // Asks whether the unsent changes of the current device are to be saved first (Yes, No,
    // Cancel; No preselected). Yes sets the change marker and runs the write, No clears the
    // marker; the answer is returned for what else the caller does.
    MessageAnswer OfferToSaveChanges();
    // Forgets the identified device: type, version, flags, the model text and the groups.
    void ForgetDevice();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormCreate();
    void SetUpActions();

    // Steps of the device read.
    void ReadFailed(int32_t code);
    bool WarnIfNotServed();
    void LayOutForType();
    void ShowDeviceMode();
    void ShowValues();
    void ShowStateIndicators();

    // Set while the read shows a warning: polling ticks that come meanwhile are skipped.
    bool readWarningOpen_ = false;
};
