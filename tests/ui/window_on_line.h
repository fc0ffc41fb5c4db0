// A main window, active and shown, on a simulated line over a real pseudo-terminal: a
// ВЭК-02МЕ at bus number 1 and a ВЭК-01МЕ at 2, each storing a block in 10 ms. Long waits of
// the link pass at once (ShortWaitClock); message boxes are recorded.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <stdexcept>
#include <string>

#include "line_server.h"
#include "support/message_recorder.h"
#include "support/short_wait_clock.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

// The operator's choice of an item in a closed list.
inline void Choose(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Notches of the mouse wheel over a widget (negative: towards the operator), wherever the
// focus is.
inline void Wheel(QWidget* widget, int notches) {
    const QPointF centre = widget->rect().center();
    QWheelEvent wheel(centre, widget->mapToGlobal(centre), {}, {0, 120 * notches}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

class WindowOnLine : public ::testing::Test {
  public:
    WindowOnLine() : form1(nullptr, clock) {
        QLocale::setDefault(QLocale::c());
        server.WithLine([](vsim::VirtualLine& line) {
            line.SetTurnaroundMs(1);
            for (auto [address, type] : {std::pair{1, 106}, {2, 105}}) {
                vsim::VirtualDevice* d = line.Add(address, static_cast<uint8_t>(type));
                d->SetNoise(0);
                d->SetBusyTime(std::chrono::milliseconds(10));
            }
        });
        server.Start();
        form1.Journal = ServiceJournal(dataDir.path().toStdString(), "window");
        form1.Link.PortName = server.PortPath();
        EXPECT_EQ(form1.Link.OpenPort(), 0);
        form1.show();
        QApplication::setActiveWindow(&form1);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form1));
    }

    // A device missing from the line fails the test that asks for it (GoogleTest reports the
    // exception) instead of crashing the whole test program.
    template <class F>
    auto Device(int address, F&& f) {
        return server.WithLine([&](vsim::VirtualLine& line) {
            vsim::VirtualDevice* device = line.Find(address);
            if (!device) throw std::runtime_error("no device at " + std::to_string(address));
            return f(*device);
        });
    }
    std::vector<uint8_t> BlockOf(int address) {
        return Device(address, [](vsim::VirtualDevice& d) { return d.Block(); });
    }
    int BlocksStored(int address) {
        return Device(address, [](vsim::VirtualDevice& d) { return d.BlocksStored(); });
    }
    void ReadDevice(int number) {
        form1.ui->CBoxUstr->setCurrentIndex(number - 1);
        form1.CBoxUstrClick(number - 1);
        form1.InPortClick();
        ASSERT_EQ(form1.Record.DataRead, 1);
        recorder.messages.clear();
    }
    // Types a text into a setpoint edit that has the focus, then the key that leaves it.
    void Type(QLineEdit* edit, const QString& text, Qt::Key leave = Qt::Key_Tab) {
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, leave);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const OperatorMessage& m : recorder.messages)
            texts.push_back(m.text);
        return texts;
    }

    vsim::LineServer server;
    MessageRecorder recorder;
    ShortWaitClock clock;
    QTemporaryDir dataDir;  // the window's journal
    TForm1 form1;
};
