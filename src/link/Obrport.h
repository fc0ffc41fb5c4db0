// The port settings dialog: the serial port and its speed, parity and stop bits. It keeps the
// last accepted choice for the whole run and closes the port whenever it is shown.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TComPortClass;
class TFormNastr;
namespace Ui {
class TFormPort;
}

class TFormPort : public QDialog {
    Q_OBJECT
  public:
    // The dialog's results: OK, Cancel (window closed) and the refusal of a forbidden
    // combination.
    enum Result { Cancel = QDialog::Rejected, Ok = QDialog::Accepted, Refused = 2 };

    // Closes and opens the port through the link; the exchange settings dialog sets the
    // link's attempts and delays.
    TFormPort(TComPortClass& link, TFormNastr& formNastr, QWidget* parent = nullptr);
    ~TFormPort() override;

    // The link's texts for the chosen items.
    QString ChosenPort() const;
    std::string ChosenBaudText() const;
    std::string ChosenParityLetter() const;
    std::string ChosenStopBitsText() const;

    // Whether the port was open when the dialog last showed (and closed it).
    bool PortWasOpen() const { return portWasConnected_; }

    // Where the port names come from; the system's list unless a test replaces it.
    std::function<std::vector<std::string>()> PortLister;
    // What a port is, shown beside its name; the system's descriptions unless replaced.
    std::function<std::string(const std::string&)> PortDescriber;

    std::unique_ptr<Ui::TFormPort> ui;

  protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

  private slots:
    void OKClick();
    void Button1Click();

  private:
    void FormShow();

    TComPortClass& link_;
    TFormNastr& formNastr_;
    int rememberedSpeed_ = 0;
    int rememberedParity_ = 0;
    int rememberedStopBits_ = 1;
    bool portWasConnected_ = false;
};
