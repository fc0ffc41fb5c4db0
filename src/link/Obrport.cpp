#include "link/Obrport.h"

#include <QShowEvent>

#include "common/operator_message.h"
#include "link/Comportclass.h"
#include "link/exchange_settings_dialog.h"
#include "link/port_list.h"
#include "ui_Obrport.h"

TFormPort::TFormPort(TComPortClass& link, TFormNastr& formNastr, QWidget* parent)
    : QDialog(parent),
      PortLister(SystemPortNames),
      PortDescriber(PortDescription),
      ui(std::make_unique<Ui::TFormPort>()),
      link_(link),
      formNastr_(formNastr) {
    ui->setupUi(this);
    connect(ui->OK, &QPushButton::clicked, this, &TFormPort::OKClick);
    connect(ui->Button1, &QPushButton::clicked, this, &TFormPort::Button1Click);
    // FormCreate: the link's defaults 9600, N, 2.
    rememberedSpeed_ = 0;
    rememberedParity_ = 0;
    rememberedStopBits_ = 1;
}

TFormPort::~TFormPort() = default;

void TFormPort::showEvent(QShowEvent* event) {
    // The window system's show, when the minimised dialog comes back, is no new showing.
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TFormPort::FormShow() {
    ui->CBoxPort->clear();
    ui->Skor->setCurrentIndex(rememberedSpeed_);
    ui->Parit->setCurrentIndex(rememberedParity_);
    ui->StBit->setCurrentIndex(rememberedStopBits_);
    portWasConnected_ = link_.PortConnected();
    link_.ClosePort();
    for (const std::string& name : PortLister()) {
        // The entry opens the path; what the port is shows beside it.
        const std::string description = PortDescriber(name);
        ui->CBoxPort->addItem(
            QString::fromStdString(description.empty() ? name : name + " — " + description),
            QString::fromStdString(name));
    }
    // Device paths are longer than COM names: the list is as wide as its longest entry.
    ui->CBoxPort->setMinimumWidth(ui->CBoxPort->sizeHint().width());
    ui->CBoxPort->setCurrentIndex(ui->CBoxPort->count() > 0 ? 0 : -1);
}

void TFormPort::OKClick() {
    // Even parity with two stop bits is refused; odd parity with two is allowed.
    if (ui->Parit->currentIndex() == 2 && ui->StBit->currentIndex() == 1) {
        done(Refused);
        return;
    }
    rememberedSpeed_ = ui->Skor->currentIndex();
    rememberedParity_ = ui->Parit->currentIndex();
    rememberedStopBits_ = ui->StBit->currentIndex();
    done(Ok);
}

// FormClose: a cancelled dialog opens the port again if it was open when the dialog showed.
void TFormPort::done(int result) {
    QDialog::done(result);
    if (result == Cancel && portWasConnected_) link_.OpenPort();
}

void TFormPort::Button1Click() {
    TFormNastr& nastr = formNastr_;
    if (nastr.exec() != QDialog::Accepted) return;
    link_.SetStage1Attempts(nastr.Povt1Text().toInt());
    link_.SetStage2Attempts(nastr.Povt2Text().toInt());
    link_.SetSendDelay(nastr.Edit1Text().toInt());
    link_.SetReceiveDelay(nastr.Edit2Text().toInt());
}

QString TFormPort::ChosenPort() const {
    return ui->CBoxPort->currentData().toString();
}

std::string TFormPort::ChosenBaudText() const {
    return ui->Skor->currentText().toStdString();
}

std::string TFormPort::ChosenParityLetter() const {
    static const char* const kLetters[] = {"N", "O", "E"};
    int i = ui->Parit->currentIndex();
    return i >= 0 && i < 3 ? kLetters[i] : "";
}

std::string TFormPort::ChosenStopBitsText() const {
    return ui->StBit->currentIndex() == 0 ? "1" : "2";
}
