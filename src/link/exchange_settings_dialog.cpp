#include "link/exchange_settings_dialog.h"

#include <QLineEdit>

#include "link/Comportclass.h"
#include "ui_exchange_settings_dialog.h"

namespace {

// The arrows and their edit are one spin box; its edit shows the position and takes no
// typing.
QLineEdit* PositionEdit(QSpinBox* upDown, const char* name) {
    auto* edit = upDown->findChild<QLineEdit*>();
    edit->setObjectName(name);
    edit->setReadOnly(true);
    return edit;
}

}  // namespace

TFormNastr::TFormNastr(const TComPortClass& link, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TFormNastr>()) {
    ui->setupUi(this);
    Edit1 = PositionEdit(ui->UpDown1, "Edit1");
    Edit2 = PositionEdit(ui->UpDown2, "Edit2");
    connect(ui->OK, &QPushButton::clicked, this, &TFormNastr::OKClick);
    connect(this, &QDialog::rejected, this, &TFormNastr::FormClose);

    // FormCreate
    rememberedPovt1_ = 1;
    rememberedPovt2_ = 1;
    rememberedUpDown1_ = static_cast<int16_t>(link.GetSendDelay());
    rememberedUpDown2_ = static_cast<int16_t>(link.GetReceiveDelay());
    PutRememberedIntoControls();
}

TFormNastr::~TFormNastr() = default;

QString TFormNastr::Povt1Text() const {
    return ui->CBoxPovt1->currentText();
}
QString TFormNastr::Povt2Text() const {
    return ui->CBoxPovt2->currentText();
}
QString TFormNastr::Edit1Text() const {
    return Edit1->text();
}
QString TFormNastr::Edit2Text() const {
    return Edit2->text();
}

void TFormNastr::PutRememberedIntoControls() {
    ui->CBoxPovt1->setCurrentIndex(rememberedPovt1_);
    ui->CBoxPovt2->setCurrentIndex(rememberedPovt2_);
    ui->UpDown1->setValue(rememberedUpDown1_);
    ui->UpDown2->setValue(rememberedUpDown2_);
}

void TFormNastr::OKClick() {
    rememberedPovt1_ = ui->CBoxPovt1->currentIndex();
    rememberedPovt2_ = ui->CBoxPovt2->currentIndex();
    rememberedUpDown1_ = static_cast<int16_t>(ui->UpDown1->value());
    rememberedUpDown2_ = static_cast<int16_t>(ui->UpDown2->value());
    accept();
}

void TFormNastr::FormClose() {
    PutRememberedIntoControls();
}
