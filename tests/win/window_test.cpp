// The Windows program's main window on the Win32 serial backend, under Wine, against vek-sim's
// demonstration line on the COM port that the test session links into the Wine prefix: the
// port list shows it, F9 reads the ВЭК-02МЕ at number 1, and an edit written with F10 is what
// the device holds afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <algorithm>

#include "device/conversions.h"
#include "link/port_list.h"
#include "support/message_recorder.h"
#include "support/short_wait_clock.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

class WindowOnComPort : public ::testing::Test {
  protected:
    WindowOnComPort() : form1(nullptr, clock) {
        form1.Link.PortName = VEK_SIM_PORT;
        EXPECT_EQ(form1.Link.OpenPort(), 0);
        form1.show();
        QApplication::setActiveWindow(&form1);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form1));
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const OperatorMessage& m : recorder.messages)
            texts.push_back(m.text);
        return texts;
    }

    MessageRecorder recorder;
    ShortWaitClock clock;
    TForm1 form1;
};

TEST_F(WindowOnComPort, PortListShowsTheLinkedPort) {
    const std::vector<std::string> ports = SystemPortNames();
    EXPECT_NE(std::find(ports.begin(), ports.end(), VEK_SIM_PORT), ports.end());
}

TEST_F(WindowOnComPort, ReadsAndWritesTheSimulatedDevice) {
    Ui::TForm1& ui = *form1.ui;
    QTest::keyClick(&form1, Qt::Key_F9);
    ASSERT_EQ(Texts(), std::vector<std::string>{});
    ASSERT_EQ(form1.Record.DataRead, 1);
    EXPECT_EQ(ui.Panel1->text(), "ВЭК-02МЕ  735218.004-04  ПО.V1  0x2C74E9A6");
    EXPECT_EQ(ui.Label27->text(), "привилегированный");
    EXPECT_TRUE(ui.GBoxKanal2->isVisible());
    EXPECT_FALSE(ui.StKodACP1->text().isEmpty());
    EXPECT_EQ(ui.Ust1->text().toStdString(), SetpointPercentText(form1.Record.GetSetpoint1()));
    EXPECT_EQ(ui.Ust2->text().toStdString(), SetpointPercentText(form1.Record.GetSetpoint2()));

    // The contact type of setpoint 1, changed and written; the write's own read brings back
    // what the device stored. Then the device's own value again.
    const int contact = form1.Record.GetContactType(1);
    for (int value : {1 - contact, contact}) {
        ui.CBoxTipK1->setCurrentIndex(value);
        emit ui.CBoxTipK1->activated(value);
        ASSERT_EQ(form1.Record.Changed, 1);
        QTest::keyClick(&form1, Qt::Key_F10);
        EXPECT_EQ(Texts(), std::vector<std::string>{});
        EXPECT_EQ(form1.Record.Changed, 0);
        EXPECT_EQ(form1.Record.DataRead, 1);
        EXPECT_EQ(form1.Record.GetContactType(1), value);
        EXPECT_EQ(ui.CBoxTipK1->currentIndex(), value);
    }
}

}  // namespace
