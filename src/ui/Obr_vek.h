// The main window: the device line, the channel groups and the setpoint group of the one
// device shown, and the commands of the tool. It owns the serial port, the link and the
// device record for its whole life.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

#include "common/operator_message.h"
#include "device/Obrnastr.h"
#include "device/config_file.h"
#include "device/measurement_trend.h"
#include "device/service_journal.h"
#include "link/Comportclass.h"
#include "link/Cport.h"

class TFormPort;
class TFormNastr;
class TFormDevice;
class ExchangeMonitor;
class TrendWindow;
class JournalWindow;
class ConfigurationDialog;
class QCloseEvent;
class QComboBox;
class QKeyEvent;
class QLineEdit;
class QMenu;
class QPushButton;
namespace Ui {
class TForm1;
}

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // backend: the serial port's platform backend, the system's when none is given; clock:
    // what the link waits on.
    explicit TForm1(std::unique_ptr<ComPortBackend> backend = nullptr,
                    LinkClock& clock = SystemLinkClock(), QWidget* parent = nullptr);
    ~TForm1() override;

    // Declared in this order so that destruction frees the record, then the link, then the
    // port (which closes itself).
    TComPort ComPort1;
    TComPortClass Link;
    TProgVEKClass Record;
    // The values of every completed read, for the trend window.
    MeasurementTrend Trend;
    // Where every change to a device is entered.
    ServiceJournal Journal{ServiceJournal::DefaultFolder(), "window"};

    std::unique_ptr<Ui::TForm1> ui;
    QTimer Timer1;
    // Set while failed exchanges are reported to the operator; clear exactly while polling
    // runs.
    int32_t ReportErrors = 1;

    // The dialogs, created after the main window.
    TFormPort* FormPort = nullptr;
    TFormNastr* FormNastr = nullptr;
    TFormDevice* FormDevice = nullptr;

  public slots:
    void PortClick();
    void InPortClick();
    // The write; true once the device has confirmed the block.
    bool OutPortClick();
    void ListDeviceClick();
    // The exchange monitor and the trend: windows of their own, made at their first opening.
    void MonitorClick();
    void TrendClick();
    void N4ParolClick();
    // Configuration files of the device that was read: save, compare, write from a file.
    void SaveConfigClick();
    void CompareConfigClick();
    void WriteConfigClick();
    void ReplaceDeviceClick();
    // The service journal's window, and the report of the device that was read.
    void JournalClick();
    void ReportClick();
    void BtnPuskTimerClick();
    void Timer1Timer();
    void CBoxUstrClick(int index);

  signals:
    // A read has completed and its values are shown.
    void MeasurementsRead();

  public:
    // Stops polling the way its start/stop button does, when it runs.
    void StopPollingIfRunning();
    // Asks whether the unsent changes of the current device are to be saved first (Yes, No,
    // Cancel; No preselected). Yes sets the change marker, No clears it; the caller runs the
    // write on Yes and does the rest.
    MessageAnswer AskToSaveChanges();
    // Forgets the identified device: type, version, flags, the model text and the groups.
    void ForgetDevice();

    // Where the configuration commands get a file's name (a file dialog unless a test
    // replaces it): for saving or for reading, with a suggested name; empty for none.
    std::function<QString(bool forSaving, const QString& suggested)> ChooseConfigFile;
    // Where the report goes (a file dialog unless a test replaces it); empty for nowhere.
    std::function<QString(const QString& suggested)> ChooseReportFile;
    // Runs a configuration dialog; true when the operator accepted it. Tests replace it.
    std::function<bool(ConfigurationDialog&)> RunConfigDialog;

    // The window offers no menu that would hide its toolbar.
    QMenu* createPopupMenu() override { return nullptr; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void SetUpActions();
    void KeepDeviceLineInPlace();
    void HoldMeasurementsInCells();
    void CentreOnScreen();
    // The monitor and the trend belong to this window: the tool ends with it.
    void CloseOwnWindows();

    // Editing rules.
    void SetUpEditingRules();
    void CharacteristicRule(int channel, int index);
    void RangeRule(int channel);
    // The record's input range bounds of a channel from the texts of its two lists.
    void TakeRangeFromLists(int channel);
    void RefreshSetpointsAfterChannel(int channel);
    void ShowSetpoint(int setpoint);
    bool FilterSetpointKey(QLineEdit& edit, const QKeyEvent& key);
    void LeaveSetpointEdit(QLineEdit& edit);
    void ShowInputError(QLineEdit& edit);
    QLineEdit& SetpointEdit(int setpoint) const;
    // Runs the exit rule of a setpoint edit that holds the focus, then moves the focus to the
    // first tab stop of the window.
    void FocusFirstTabStop();

    // Calibration of the scale ends, output trim and the device's new bus number.
    void SetUpCalibration();
    void CalibrateScaleEnd(QPushButton& button, int channel, bool scaleEnd);
    bool SendCalibrationMode(bool on);
    std::string CalibrationRefusal(int channel, bool scaleEnd, int32_t code) const;
    void TrimRule(QComboBox& box, int channel, bool scaleEnd, int index);
    void DeviceNumberRule(int index);

    // The configuration file of a command: loaded and checked, or none after a message.
    std::optional<DeviceConfiguration> LoadConfigFile();
    void WriteFromFile(bool replacement);

    // Steps of the write.
    void AdvanceProgress();
    bool FinishWrite(bool written);
    void WarnIfJournalFailed();
    bool journalWarned_ = false;

    // Steps of the device read.
    void ReadFailed(int32_t code, const std::string& text = {});
    bool WarnIfNotServed();
    void LayOutForType();
    void ShowDeviceMode();
    void ShowValues();
    void ShowStateIndicators();

    // Counts the operations under way that exchange with the device or ask the operator (a
    // read, a write, a calibration, a setpoint's check, the port command, the device list,
    // the close): a polling tick that a message box's or a dialog's event loop delivers
    // meanwhile is skipped.
    int operationsUnderWay_ = 0;
    struct OperationUnderWay {
        explicit OperationUnderWay(TForm1& form) : form_(form) { ++form_.operationsUnderWay_; }
        ~OperationUnderWay() { --form_.operationsUnderWay_; }
        TForm1& form_;
    };

    // What the write under way is in the journal's terms, when a command other than F10 runs
    // it (a trim, a calibration, a write from a file); empty for the write itself.
    std::string writeAction_;
    struct WriteAction {
        WriteAction(TForm1& form, std::string action) : form_(form) {
            form_.writeAction_ = std::move(action);
        }
        ~WriteAction() { form_.writeAction_.clear(); }
        TForm1& form_;
    };

    // Set once the close sequence has run: a later close request only lets the window go.
    bool closing_ = false;
    // Set when the port has failed: the close offers no write that could only fail too.
    bool portLost_ = false;

    // Declared after the link: they go first, the monitor taking its observer off the link.
    std::unique_ptr<ExchangeMonitor> monitor_;
    std::unique_ptr<TrendWindow> trendWindow_;
    std::unique_ptr<JournalWindow> journalWindow_;
};
