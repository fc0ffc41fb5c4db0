#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>

#include "dialog_script.h"
#include "link/Obrport.h"
#include "link/exchange_settings_dialog.h"
#include "support/message_recorder.h"
#include "support/pty_pair.h"
#include "ui/Obr_vek.h"
#include "ui/vek_application.h"
#include "ui_Obr_vek.h"
#include "ui_Obrport.h"
#include "ui_exchange_settings_dialog.h"

namespace {

// The windows as start-up creates them, with two pseudo-terminals as the system's ports.
class App : public ::testing::Test {
  protected:
    App() {
        formNastr = std::make_unique<TFormNastr>(form1.Link);
        form1.FormNastr = formNastr.get();
        formPort = std::make_unique<TFormPort>(form1.Link, *formNastr);
        form1.FormPort = formPort.get();
        formPort->PortLister = [this] {
            return std::vector<std::string>{first.SlavePath(), second.SlavePath()};
        };
    }

    // Picks speed, parity and stop-bit items and the port, then presses OK.
    static DialogScript::Step Choose(int speed, int parity, int stop, int port = 0) {
        return [=](QDialog& d) {
            auto& ui = *static_cast<TFormPort&>(d).ui;
            ui.Skor->setCurrentIndex(speed);
            ui.Parit->setCurrentIndex(parity);
            ui.StBit->setCurrentIndex(stop);
            ui.CBoxPort->setCurrentIndex(port);
            ui.OK->click();
        };
    }
    static void CloseBox(QDialog& d) { d.reject(); }

    void OpenFirstPort() {
        DialogScript script(*formPort, {Choose(0, 0, 1)});
        form1.PortClick();
        ASSERT_TRUE(form1.ComPort1.Connected());
    }

    // An identified device with unsent changes, as a read and an edit leave it.
    void PretendDeviceRead() {
        form1.Record.TypeCode = 106;
        form1.Record.Version = 3;
        form1.Record.DataRead = 1;
        form1.Record.LayoutReady = 1;
        form1.Record.Changed = 1;
        form1.ui->Panel1->setText("model");
        form1.ui->GBoxKanal->show();
    }

    PtyPair first, second;
    MessageRecorder recorder;
    TForm1 form1;
    std::unique_ptr<TFormPort> formPort;
    std::unique_ptr<TFormNastr> formNastr;
};

TEST_F(App, StartsWithThePortClosedAndNothingRead) {
    EXPECT_EQ(form1.ui->CBoxUstr->currentText(), "1");
    EXPECT_EQ(form1.ui->CBoxUstrZ->currentText(), "1");
    EXPECT_EQ(form1.Record.DeviceNumber, 0);
    EXPECT_EQ(form1.Record.NewDeviceNumber, 0);
    EXPECT_EQ(form1.Record.AccessLevel, 0);
    EXPECT_EQ(form1.ui->Label27->text(), "");
    EXPECT_EQ(form1.ReportErrors, 1);
    EXPECT_FALSE(form1.Timer1.isActive());
    EXPECT_EQ(form1.Timer1.interval(), 3000);
    EXPECT_FALSE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.ComPort1.Timeouts().ReadInterval, 100);
    EXPECT_EQ(form1.Link.PortName, "COM1");
    EXPECT_EQ(form1.Link.GetSendDelay(), 25);
    form1.show();
    EXPECT_FALSE(form1.ui->GBoxKanal->isVisible());
    EXPECT_FALSE(form1.ui->GBoxSign2->isVisible());
    EXPECT_FALSE(form1.ui->GBoxKanal2->isVisible());
    EXPECT_TRUE(recorder.messages.empty());  // nothing is asked at start
}

TEST_F(App, F8RefusesThePasswordChange) {
    form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form1));
    QTest::keyClick(&form1, Qt::Key_F8);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Ваш уровень доступа не позволяет\nменять пароль");
    EXPECT_EQ(recorder.messages[0].caption, "Предупреждение");
    EXPECT_EQ(recorder.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(form1.Record.AccessLevel, 0);
}

TEST_F(App, PortDialogOpensTheChosenPortWithItsSettings) {
    DialogScript script(*formPort, {Choose(1, 1, 1, 1)});  // 19200, odd, 2 stop bits
    form1.PortClick();
    EXPECT_TRUE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.Link.PortName, second.SlavePath());
    EXPECT_EQ(form1.Link.BaudText, "19200");
    EXPECT_EQ(form1.Link.ParityLetter, "O");
    EXPECT_EQ(form1.Link.StopBitsText, "2");
    EXPECT_EQ(form1.ComPort1.BaudRate(), br19200);
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(App, ListIsRebuiltAtEveryShowingWithTheFirstEntrySelected) {
    QStringList seen;
    DialogScript script(*formPort, {[&](QDialog& d) {
        auto& ui = *static_cast<TFormPort&>(d).ui;
        for (int i = 0; i < ui.CBoxPort->count(); ++i)
            seen << ui.CBoxPort->itemText(i);
        seen << QString::number(ui.CBoxPort->currentIndex());
        d.reject();
    }});
    form1.PortClick();
    EXPECT_EQ(seen, (QStringList{QString::fromStdString(first.SlavePath()),
                                 QString::fromStdString(second.SlavePath()), "0"}));
}

TEST_F(App, EvenParityWithTwoStopBitsIsRefusedAndRetryShowsTheLastAcceptedChoice) {
    OpenFirstPort();
    int parityAtRetry = -1, stopAtRetry = -1;
    recorder.answers = {MessageAnswer::Retry};
    DialogScript script(*formPort, {Choose(2, 2, 1), [&](QDialog& d) {
                                        auto& ui = *static_cast<TFormPort&>(d).ui;
                                        parityAtRetry = ui.Parit->currentIndex();
                                        stopAtRetry = ui.StBit->currentIndex();
                                        d.reject();
                                    }});
    form1.PortClick();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Ошибочные данные ");
    EXPECT_EQ(recorder.messages[0].caption, "Ошибка");
    EXPECT_EQ(recorder.messages[0].buttons, MessageButtons::RetryCancel);
    EXPECT_EQ(parityAtRetry, 0);
    EXPECT_EQ(stopAtRetry, 1);
    // The second showing found the port closed, so cancelling it leaves the port closed.
    EXPECT_FALSE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.Link.ParityLetter, "N");
}

TEST_F(App, CancelAfterARefusalLeavesThePortClosed) {
    OpenFirstPort();
    recorder.answers = {MessageAnswer::Cancel};
    DialogScript script(*formPort, {Choose(0, 2, 1)});
    form1.PortClick();
    EXPECT_EQ(script.showings, 1);
    EXPECT_FALSE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.Link.StopBitsText, "2");
}

TEST_F(App, ClosingTheDialogReopensAPortThatWasOpen) {
    OpenFirstPort();
    DialogScript script(*formPort, {CloseBox});
    form1.PortClick();
    EXPECT_TRUE(form1.ComPort1.Connected());

    form1.Link.ClosePort();
    DialogScript again(*formPort, {CloseBox});
    form1.PortClick();
    EXPECT_FALSE(form1.ComPort1.Connected());
}

// Minimising the dialog and bringing it back keeps what it shows and what it knows: the
// choices made, and that the port was open (so that Cancel opens it again).
TEST_F(App, MinimisedDialogKeepsItsState) {
    OpenFirstPort();
    bool restored = false;
    QTimer::singleShot(0, formPort.get(), [&] {
        auto& ui = *formPort->ui;
        ui.Skor->setCurrentIndex(3);
        ui.CBoxPort->setCurrentIndex(1);
        formPort->showMinimized();
        QTest::qWait(20);
        formPort->showNormal();
        QTest::qWait(20);
        restored = formPort->isVisible() && !formPort->isMinimized();
        EXPECT_EQ(ui.Skor->currentIndex(), 3);
        EXPECT_EQ(ui.CBoxPort->currentIndex(), 1);
        EXPECT_EQ(ui.CBoxPort->count(), 2);
        formPort->reject();
    });
    form1.PortClick();
    EXPECT_TRUE(restored);
    EXPECT_TRUE(form1.ComPort1.Connected());
}

// Device paths are longer than COM names: every entry shows whole, in the list and its popup.
// Device paths are longer than COM names: every entry shows whole, with what the port is, in
// the list and its popup; the entry chosen opens its path.
TEST_F(App, PortListShowsWholeNamesAndWhatEachPortIs) {
    const std::string adapter = first.SlavePath();
    const QString longest = QString::fromStdString(adapter) + " — FTDI FT232R USB UART, № A10KX3F2";
    formPort->PortLister = [&] {
        return std::vector<std::string>{adapter, "/run/user/1000/vek-ports/ttyVEK0"};
    };
    formPort->PortDescriber = [&](const std::string& port) {
        return port == adapter ? "FTDI FT232R USB UART, № A10KX3F2" : "";
    };
    QTimer::singleShot(0, formPort.get(), [&] {
        QTest::qWait(20);
        QComboBox& box = *formPort->ui->CBoxPort;
        EXPECT_EQ(box.itemText(0), longest);
        EXPECT_EQ(box.itemText(1), "/run/user/1000/vek-ports/ttyVEK0");
        const int text = box.fontMetrics().horizontalAdvance(longest);
        QStyleOptionComboBox option;
        option.initFrom(&box);
        const QRect field = box.style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                        QStyle::SC_ComboBoxEditField, &box);
        EXPECT_GE(field.width(), text) << box.width();
        box.showPopup();
        EXPECT_GE(box.view()->viewport()->width(), text);
        box.hidePopup();
        formPort->ui->OK->click();
    });
    form1.PortClick();
    EXPECT_EQ(form1.Link.PortName, adapter);
    EXPECT_TRUE(form1.ComPort1.Connected());
}

TEST_F(App, SamePortWithANewSpeedReopensWithoutAQuestion) {
    OpenFirstPort();
    PretendDeviceRead();
    DialogScript script(*formPort, {Choose(3, 0, 0)});  // 115200, one stop bit
    form1.PortClick();
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_TRUE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.ComPort1.BaudRate(), br115200);
    EXPECT_EQ(form1.ComPort1.StopBits(), sbOneStopBit);
    EXPECT_EQ(form1.Record.TypeCode, 106);  // still identified
    EXPECT_EQ(form1.Record.Changed, 1);
}

TEST_F(App, AnotherPortAsksAboutChangesAndForgetsTheDevice) {
    OpenFirstPort();
    PretendDeviceRead();
    form1.Record.DeviceNumber = 4;
    recorder.answers = {MessageAnswer::No};
    DialogScript script(*formPort, {Choose(0, 0, 1, 1)});
    form1.PortClick();
    ASSERT_EQ(recorder.messages.size(), 1u);
    const OperatorMessage& q = recorder.messages[0];
    EXPECT_EQ(q.text, "устройство 5 - база данных была изменена,\nСохранить?");
    EXPECT_EQ(q.caption, "Предупреждение");
    EXPECT_EQ(q.icon, MessageIcon::Question);
    EXPECT_EQ(q.buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(q.defaultButton, MessageAnswer::No);
    EXPECT_EQ(form1.Record.Changed, 0);
    EXPECT_EQ(form1.Record.TypeCode, 0);
    EXPECT_EQ(form1.Record.Version, 0);
    EXPECT_EQ(form1.Record.DataRead, 0);
    EXPECT_EQ(form1.Record.LayoutReady, 0);
    EXPECT_EQ(form1.ui->Panel1->text(), "");
    EXPECT_TRUE(form1.ui->GBoxKanal->isHidden());
    EXPECT_EQ(form1.Link.PortName, second.SlavePath());
    EXPECT_TRUE(form1.ComPort1.Connected());
}

TEST_F(App, CancellingTheQuestionKeepsTheLinkAndTheClosedPort) {
    OpenFirstPort();
    PretendDeviceRead();
    recorder.answers = {MessageAnswer::Cancel};
    DialogScript script(*formPort, {Choose(1, 0, 1, 1)});
    form1.PortClick();
    EXPECT_EQ(form1.Link.PortName, first.SlavePath());
    EXPECT_EQ(form1.Link.BaudText, "9600");
    EXPECT_FALSE(form1.ComPort1.Connected());
    EXPECT_EQ(form1.Record.TypeCode, 106);
}

TEST_F(App, PortThatCannotOpenIsReported) {
    formPort->PortLister = [] { return std::vector<std::string>{"/dev/vek-no-such-port"}; };
    DialogScript script(*formPort, {Choose(0, 0, 1)});
    form1.PortClick();
    ASSERT_EQ(recorder.messages.size(), 2u);
    EXPECT_EQ(recorder.messages[0].text,
              "Порт /dev/vek-no-such-port не найден: адаптер отключен или порта нет.\n"
              "Проверьте оборудование, перезапустите программу.");
    EXPECT_EQ(recorder.messages[1].text, " невозможно открыть последовательный порт ");
    EXPECT_FALSE(form1.ComPort1.Connected());
}

TEST_F(App, ExchangeDialogKeepsTheSendDelayBetweenOneAndAHundred) {
    TFormNastr& nastr = *formNastr;
    EXPECT_EQ(nastr.Edit1->text(), "25");
    EXPECT_TRUE(nastr.Edit1->isReadOnly());
    nastr.ui->UpDown1->stepBy(-100);
    EXPECT_EQ(nastr.Edit1->text(), "1");
    nastr.ui->UpDown1->stepBy(500);
    EXPECT_EQ(nastr.Edit1->text(), "100");
    EXPECT_TRUE(nastr.ui->CBoxPovt1->isHidden());
    EXPECT_TRUE(nastr.ui->UpDown2->isHidden());
}

TEST_F(App, ExchangeDialogOkAppliesAndClosingRestores) {
    auto setDelay = [](int delay, bool ok) {
        return [=](QDialog& d) {
            auto& nastr = static_cast<TFormNastr&>(d);
            nastr.ui->UpDown1->setValue(delay);
            if (ok)
                nastr.ui->OK->click();
            else
                nastr.reject();
        };
    };
    // The port dialog's button opens the exchange dialog; the port dialog is then closed.
    DialogScript portSteps(*formPort, {[](QDialog& d) {
        static_cast<TFormPort&>(d).ui->Button1->click();
        d.reject();
    }});
    DialogScript nastrSteps(*formNastr, {setDelay(40, true)});
    form1.PortClick();
    EXPECT_EQ(form1.Link.GetSendDelay(), 40);
    EXPECT_EQ(form1.Link.GetStage1Attempts(), 5);
    EXPECT_EQ(form1.Link.GetReceiveDelay(), 20);

    DialogScript portAgain(*formPort, {[](QDialog& d) {
        static_cast<TFormPort&>(d).ui->Button1->click();
        d.reject();
    }});
    DialogScript nastrAgain(*formNastr, {setDelay(70, false)});
    form1.PortClick();
    EXPECT_EQ(form1.Link.GetSendDelay(), 40);
    EXPECT_EQ(formNastr->Edit1->text(), "40");  // the next showing shows the old value
}

TEST_F(App, CloseSequenceSaysGoodbyeAndClosesThePort) {
    OpenFirstPort();
    form1.show();
    form1.close();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Работа закончена");
    EXPECT_EQ(recorder.messages[0].caption, "Подтверждение");
    EXPECT_EQ(recorder.messages[0].icon, MessageIcon::Information);
    EXPECT_FALSE(form1.ComPort1.Connected());
}

TEST_F(App, ChangesAreOfferedBeforeClosing) {
    form1.Record.Changed = 1;
    recorder.answers = {MessageAnswer::No};
    form1.close();
    ASSERT_EQ(recorder.messages.size(), 2u);
    EXPECT_EQ(recorder.messages[0].text, "Данные были изменены. Передать?");
    EXPECT_EQ(recorder.messages[0].caption, "Подтвердите передачу данных");
    EXPECT_EQ(recorder.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(recorder.messages[1].text, "Работа закончена");
}

TEST_F(App, ExceptionsFromHandlersAreShownAndTheProgramGoesOn) {
    // As when a polling tick's read meets a failing port.
    QTimer tick;
    tick.setSingleShot(true);
    int ticks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ++ticks;
        throw EComPort(CE_ReadFailed, 5);
    });
    tick.start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks == 1; }));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "ReadFile function failed (Error: 5)");
    EXPECT_EQ(recorder.messages[0].icon, MessageIcon::Error);
    tick.start(0);  // the loop goes on
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks == 2; }));
}

TEST(Toolkit, MessageBoxButtonsAreInRussian) {
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Отмена");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Да");
}

}  // namespace
