// The exchange settings dialog: the wait before every send and, in controls that stay
// hidden, the attempt counts and the receive delay. It keeps the last accepted values for
// the whole run; closing the window without OK puts them back.
#pragma once

#include <QDialog>
#include <memory>

class TComPortClass;
class QLineEdit;
namespace Ui {
class TFormNastr;
}

class TFormNastr : public QDialog {
    Q_OBJECT
  public:
    // Takes the remembered delays from the link, which must exist already.
    explicit TFormNastr(const TComPortClass& link, QWidget* parent = nullptr);
    ~TFormNastr() override;

    // The texts that the port settings dialog converts into link settings.
    QString Povt1Text() const;
    QString Povt2Text() const;
    QString Edit1Text() const;
    QString Edit2Text() const;

    std::unique_ptr<Ui::TFormNastr> ui;
    QLineEdit* Edit1;  // the read-only edits that show the arrows' positions
    QLineEdit* Edit2;

  private slots:
    void OKClick();
    void FormClose();

  private:
    void PutRememberedIntoControls();

    int rememberedPovt1_ = 1;
    int rememberedPovt2_ = 1;
    int16_t rememberedUpDown1_ = 0;
    int16_t rememberedUpDown2_ = 0;
};
