#include "ui/Obr_vek.h"

#include <QFileDialog>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include "common/operator_message.h"
#include "link/Obrport.h"
#include "ui/Obrlistdevice.h"
#include "ui/closed_list_guard.h"
#include "ui/configuration_dialog.h"
#include "ui/exchange_monitor.h"
#include "ui/journal_window.h"
#include "ui/trend_window.h"
#include "ui_Obr_vek.h"

TForm1::TForm1(std::unique_ptr<ComPortBackend> backend, LinkClock& clock, QWidget* parent)
    : QMainWindow(parent),
      ComPort1(backend ? std::move(backend) : MakeSystemComBackend()),
      Link(ComPort1, clock),
      ui(std::make_unique<Ui::TForm1>()) {
    ui->setupUi(this);
    ApplyComPort1Design(ComPort1);
    Timer1.setInterval(3000);
    // A port that failed while it was opened or in an exchange closes the window once the
    // running handler has returned.
    Link.OnCloseRequest = [this] {
        portLost_ = true;
        StopPollingIfRunning();  // nothing polls a port that is gone
        QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
    };
    ChooseConfigFile = [this](bool forSaving, const QString& suggested) {
        const QString filter = "Конфигурация прибора (*.json)";
        return forSaving ? QFileDialog::getSaveFileName(this, "Сохранить в файл", suggested, filter)
                         : QFileDialog::getOpenFileName(this, "Файл конфигурации", {}, filter);
    };
    ChooseReportFile = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, "Отчёт о приборе", suggested,
                                            "Документ PDF (*.pdf)");
    };
    RunConfigDialog = [](ConfigurationDialog& dialog) {
        return dialog.exec() == QDialog::Accepted;
    };
    SetUpActions();
    KeepDeviceLineInPlace();
    HoldMeasurementsInCells();
    CentreOnScreen();
    SetUpEditingRules();
    SetUpCalibration();
    // The trim lists write at each choice.
    new ClosedListGuard(
        *this, {ui->CBoxCurrent1, ui->CBoxCurrentEnd1, ui->CBoxCurrent2, ui->CBoxCurrentEnd2});
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::SetUpActions() {
    QStyle* s = style();
    ui->AInPort->setIcon(s->standardIcon(QStyle::SP_ArrowDown));
    ui->AOutPort->setIcon(s->standardIcon(QStyle::SP_ArrowUp));
    ui->APort->setIcon(s->standardIcon(QStyle::SP_ComputerIcon));
    ui->AListDevice->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
    ui->MListDevice->setIcon(ui->AListDevice->icon());
    ui->AParol->setIcon(s->standardIcon(QStyle::SP_MessageBoxWarning));
    ui->MMonitor->setIcon(s->standardIcon(QStyle::SP_FileDialogContentsView));
    ui->MTrend->setIcon(s->standardIcon(QStyle::SP_MediaPlay));

    connect(ui->AInPort, &QAction::triggered, this, &TForm1::InPortClick);
    connect(ui->AOutPort, &QAction::triggered, this, &TForm1::OutPortClick);
    connect(ui->APort, &QAction::triggered, this, &TForm1::PortClick);
    connect(ui->AListDevice, &QAction::triggered, this, &TForm1::ListDeviceClick);
    connect(ui->MListDevice, &QAction::triggered, this, &TForm1::ListDeviceClick);
    connect(ui->AParol, &QAction::triggered, this, &TForm1::N4ParolClick);
    connect(ui->MMonitor, &QAction::triggered, this, &TForm1::MonitorClick);
    connect(ui->MTrend, &QAction::triggered, this, &TForm1::TrendClick);
    connect(ui->MSaveConfig, &QAction::triggered, this, &TForm1::SaveConfigClick);
    connect(ui->MCompareConfig, &QAction::triggered, this, &TForm1::CompareConfigClick);
    connect(ui->MWriteConfig, &QAction::triggered, this, &TForm1::WriteConfigClick);
    connect(ui->MReplaceDevice, &QAction::triggered, this, &TForm1::ReplaceDeviceClick);
    connect(ui->MJournal, &QAction::triggered, this, &TForm1::JournalClick);
    connect(ui->MReport, &QAction::triggered, this, &TForm1::ReportClick);
    connect(ui->BtnPuskTimer, &QPushButton::clicked, this, &TForm1::BtnPuskTimerClick);
    connect(&Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(ui->CBoxUstr, &QComboBox::activated, this, &TForm1::CBoxUstrClick);

    // The toolbar's buttons carry the names the tool gives them.
    QToolBar* bar = ui->ToolBar1;
    const std::pair<QAction*, const char*> buttons[] = {
        {ui->AInPort, "ToolButton2"},     {ui->AOutPort, "ToolButton4"}, {ui->APort, "ToolButton3"},
        {ui->AListDevice, "ToolButton5"}, {ui->N4, "ToolButton6"},
    };
    for (auto [action, name] : buttons) {
        if (QWidget* w = bar->widgetForAction(action)) w->setObjectName(name);
    }
    // The device list's button has no hint, so it shows no tooltip (Qt would show the
    // action's name).
    if (QWidget* listButton = bar->widgetForAction(ui->AListDevice)) {
        listButton->installEventFilter(this);
    }
}

// The controls of the device line keep their places whatever is shown around them: the
// progress bar, the polling label and the mode caption hold their room while hidden.
void TForm1::KeepDeviceLineInPlace() {
    for (QWidget* w : std::initializer_list<QWidget*>{ui->ProgressBar1, ui->LabTimer, ui->LabReg}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
}

namespace {

// A cell of a grid that gives its one box all of its area. A box in a cell of its own lays out
// nothing when its text changes: a label's new text otherwise lays the whole window out again
// (most of a polling read's work in the window). The cell keeps the box's minimum size and
// policy, so the grid places it as it placed the box.
class BoxCell final : public QWidget {
  public:
    explicit BoxCell(QWidget* box) : QWidget(box->parentWidget()), box_(box) {
        setMinimumSize(box->minimumSize());
        setSizePolicy(box->sizePolicy());
    }

  protected:
    void resizeEvent(QResizeEvent*) override { box_->setGeometry(rect()); }

  private:
    QWidget* box_;
};

}  // namespace

void TForm1::HoldMeasurementsInCells() {
    for (QLabel* box : {ui->StRez1, ui->StKodACP1, ui->StRezKPa1, ui->StRezProc1, ui->StRez2,
                        ui->StKodACP2, ui->StRezKPa2, ui->StRezProc2}) {
        auto* cell = new BoxCell(box);
        delete box->parentWidget()->layout()->replaceWidget(box, cell);
        box->setParent(cell);
        box->show();  // a new parent hides a widget; the cell shows and hides with its group
    }
}

// Centred on the screen's work area; a screen smaller than the window keeps its title bar
// in reach.
void TForm1::CentreOnScreen() {
    const QScreen* s = screen();
    if (!s) return;
    const QRect area = s->availableGeometry();
    QRect frame(QPoint(), size());
    frame.moveCenter(area.center());
    move(std::max(frame.left(), area.left()), std::max(frame.top(), area.top()));
}

void TForm1::FormCreate() {
    ui->CBoxUstr->setCurrentIndex(0);
    ui->CBoxUstrZ->setCurrentIndex(0);
    Record.DeviceNumber = 0;
    Record.NewDeviceNumber = 0;
    ReportErrors = 1;
    ui->Label27->setText("");
}

void TForm1::N4ParolClick() {
    if (Record.AccessLevel == 1) return;
    OperationUnderWay underWay(*this);
    ShowWarning("Ваш уровень доступа не позволяет\nменять пароль");
}

MessageAnswer TForm1::AskToSaveChanges() {
    const std::string text = "устройство " + std::to_string(Record.DeviceNumber + 1) +
                             " - база данных была изменена,\nСохранить?";
    const MessageAnswer answer =
        ShowOperatorMessage({text, "Предупреждение", MessageIcon::Question,
                             MessageButtons::YesNoCancel, MessageAnswer::No});
    if (answer == MessageAnswer::Yes) Record.Changed = 1;
    if (answer == MessageAnswer::No) Record.Changed = 0;
    return answer;
}

void TForm1::ForgetDevice() {
    Record.TypeCode = 0;
    Record.Version = 0;
    Record.DataRead = 0;
    Record.LayoutReady = 0;
    ui->Panel1->setText("");
    ui->GBoxKanal->hide();
    ui->GBoxSign2->hide();
    ui->GBoxKanal2->hide();
}

// The device list command. Polling ticks wait while the list is open: a read of this window
// must not come between the list's requests.
void TForm1::ListDeviceClick() {
    if (!FormDevice) return;
    OperationUnderWay underWay(*this);
    FormDevice->exec();
}

namespace {

void ShowOnTop(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

void TForm1::MonitorClick() {
    if (!monitor_) monitor_ = std::make_unique<ExchangeMonitor>(Link, this);
    ShowOnTop(*monitor_);
}

void TForm1::TrendClick() {
    if (!trendWindow_) {
        trendWindow_ = std::make_unique<TrendWindow>(Trend, this);
        connect(this, &TForm1::MeasurementsRead, trendWindow_.get(), &TrendWindow::Refresh);
    }
    ShowOnTop(*trendWindow_);
}

void TForm1::JournalClick() {
    if (!journalWindow_) {
        journalWindow_ = std::make_unique<JournalWindow>(Journal, this);
    } else {
        journalWindow_->Refresh();
    }
    ShowOnTop(*journalWindow_);
}

void TForm1::CloseOwnWindows() {
    if (monitor_) monitor_->close();
    if (trendWindow_) trendWindow_->close();
    if (journalWindow_) journalWindow_->close();
}

// The port settings command of the main window.
void TForm1::PortClick() {
    // No polling tick reads while the dialog or a question of the command is open: the dialog
    // closes the port, and a read there would clear the block that the question offers to save.
    OperationUnderWay underWay(*this);
    for (;;) {
        int result = FormPort->exec();
        if (result == TFormPort::Refused) {
            MessageAnswer answer =
                ShowOperatorMessage({"Ошибочные данные ", "Ошибка", MessageIcon::Error,
                                     MessageButtons::RetryCancel, MessageAnswer::Retry});
            if (answer == MessageAnswer::Retry) continue;
            return;
        }
        if (result != TFormPort::Ok) return;
        break;
    }

    const std::string chosen = FormPort->ChosenPort().toStdString();
    if (chosen != Link.PortName) {
        StopPollingIfRunning();
        const MessageAnswer answer = Record.Changed ? AskToSaveChanges() : MessageAnswer::No;
        if (answer == MessageAnswer::Cancel) return;
        if (answer == MessageAnswer::Yes) {
            // The changes go to the device through the port and settings it was read through,
            // which the dialog closed when it showed.
            const bool reopen = FormPort->PortWasOpen() && !ComPort1.Connected();
            if (reopen) Link.OpenPort();
            OutPortClick();
            if (reopen) Link.ClosePort();
        }
        ForgetDevice();
    }

    Link.ParityLetter = FormPort->ChosenParityLetter();
    Link.BaudText = FormPort->ChosenBaudText();
    Link.StopBitsText = FormPort->ChosenStopBitsText();
    Link.PortName = chosen;
    if (Link.OpenPort() == -1) Link.ReportError(Record.DeviceNumber, lrPortOpenFailed);
}
