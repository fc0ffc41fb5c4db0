#include <gtest/gtest.h>

#include "link/Cport.h"
#include "support/com_error.h"
#include "support/scripted_port.h"

namespace {

// ---- Settings and their order, through a recording backend ----

TEST(ComPortSettings, ClassDefaultsAndTheDesignOfComPort1) {
    TComPort port(std::make_unique<ScriptedBackend>());
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity().Bits, prNone);
    EXPECT_EQ(port.Events(), kAllComEvents);
    ComTimeoutValues t = port.BuildTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, kMaxDword);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);

    ApplyComPort1Design(port);
    t = port.BuildTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 100u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST(ComPortSettings, ControlBlockFollowsTheSettings) {
    TComPort port(std::make_unique<ScriptedBackend>());
    ComControlBlock dcb = port.BuildControlBlock();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fParity);
    EXPECT_EQ(dcb.fDtrControl, 0);
    EXPECT_EQ(dcb.fRtsControl, 0);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_FALSE(dcb.fErrorChar);

    port.SetBaudRate(br56000);
    port.SetParityBits(prEven);
    port.SetStopBits(sbTwoStopBits);
    port.SetParity({prEven, true, true, 0x3F});
    dcb = port.BuildControlBlock();
    EXPECT_EQ(dcb.BaudRate, 56000u);
    EXPECT_EQ(dcb.Parity, 2);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_TRUE(dcb.fErrorChar);
    EXPECT_EQ(dcb.ErrorChar, 0x3F);

    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(port.BuildControlBlock().BaudRate, 31250u);
    EXPECT_EQ(BaudRateValue(br110, 0), 110u);
    EXPECT_EQ(BaudRateValue(br256000, 0), 256000u);
}

class RecordedPort : public ::testing::Test {
  protected:
    RecordedPort() {
        auto backend = std::make_unique<ScriptedBackend>();
        line = backend.get();
        port = std::make_unique<TComPort>(std::move(backend));
    }
    ScriptedBackend* line;
    std::unique_ptr<TComPort> port;
};

TEST_F(RecordedPort, SettingsChangedWhileClosedReachTheSystemInOrderAtOpen) {
    port->SetPort("COM12");
    port->SetBaudRate(br19200);
    ApplyComPort1Design(*port);
    EXPECT_TRUE(line->calls.empty());  // a closed port only stores
    port->Open();
    EXPECT_EQ(line->calls, (std::vector<std::string>{"open COM12", "buffers 1024 1024", "dcb 19200",
                                                     "timeouts"}));
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(line->lastTimeouts.ReadIntervalTimeout, 100u);
}

TEST_F(RecordedPort, SettersOfAnOpenPortApplyAtOnceAndPortReopens) {
    port->Open();
    line->calls.clear();
    port->SetBaudRate(br9600);  // same value: nothing
    port->SetBaudRate(br4800);
    port->SetStopBits(sbTwoStopBits);
    port->SetParityBits(prOdd);
    EXPECT_EQ(line->calls, (std::vector<std::string>{"dcb 4800", "dcb 4800", "dcb 4800"}));
    EXPECT_EQ(line->lastControlBlock.Parity, 1);

    line->calls.clear();
    port->SetPort("COM1");  // same text: nothing
    port->SetPort("COM3");
    EXPECT_EQ(line->calls, (std::vector<std::string>{"purge 3", "close", "open COM3",
                                                     "buffers 1024 1024", "dcb 4800", "timeouts"}));
    EXPECT_TRUE(port->Connected());
}

TEST_F(RecordedPort, FailedSettingAtOpenClosesAndPassesTheError) {
    for (const char* step : {"buffers", "dcb", "timeouts"}) {
        line->calls.clear();
        line->failOn = step;
        EComPort e = CatchComError([&] { port->Open(); });
        EXPECT_FALSE(port->Connected()) << step;
        EXPECT_EQ(line->calls.back(), "close") << step;
    }
    line->failOn = "dcb";
    EXPECT_EQ(CatchComError([&] { port->Open(); }).Code, CE_SetStateFailed);
    line->failOn = "timeouts";
    EXPECT_EQ(CatchComError([&] { port->Open(); }).Code, CE_SetTimeoutsFailed);
    line->failOn = "buffers";
    EXPECT_EQ(CatchComError([&] { port->Open(); }).Code, CE_SetupComFailed);
    line->failOn = "open";
    EXPECT_EQ(CatchComError([&] { port->Open(); }).Code, CE_OpenFailed);
    EXPECT_FALSE(port->Connected());
}

TEST_F(RecordedPort, ClearBufferPurgesBothQueuesWithFlags12) {
    port->Open();
    port->ClearBuffer(true, true);
    EXPECT_EQ(line->calls.back(), "purge 12");
}

TEST(ComPortError, MessageShowsTheSystemCodeOnlyWhenPositive) {
    EXPECT_STREQ(EComPort(CE_OpenFailed, 2).what(), "Unable to open com port (Error: 2)");
    EXPECT_STREQ(EComPort(CE_PurgeFailed, 0).what(), "PurgeComm function failed");
    EXPECT_STREQ(EComPort(CE_PortNotOpen).what(), "Port Not Open");
    EXPECT_EQ(EComPort(CE_PortNotOpen).WinCode, -1);
    EXPECT_STREQ(EComPort(CE_ClearComFailed, 31).what(),
                 "ClearCommError function failed (Error: 31)");
    EXPECT_STREQ(EComPort(CE_SetTimeoutsFailed, 87).what(), "SetCommTimeouts failed (Error: 87)");
}

}  // namespace
