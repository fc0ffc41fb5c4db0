#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "link/Cport.h"
#include "support/pty_pair.h"
#include "support/scripted_port.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename F>
EComPort CatchComError(F&& f) {
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort(0);
}

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

// ---- The POSIX port on real pseudo-terminals ----

class PtyPort : public ::testing::Test {
  protected:
    PtyPort() {
        ApplyComPort1Design(port);
        port.SetPort(pty.SlavePath());
    }
    PtyPair pty;
    TComPort port;
};

TEST_F(PtyPort, OpensAnyDevicePathAndAppliesTheLineSettings) {
    port.SetBaudRate(br19200);
    port.SetStopBits(sbTwoStopBits);
    port.Open();
    ASSERT_TRUE(port.Connected());
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &tio), 0);  // the master reports the slave's settings
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);

    port.SetBaudRate(br56000);  // outside the POSIX table, applied while open
    port.SetBaudRate(br14400);
    EXPECT_TRUE(port.Connected());
}

TEST_F(PtyPort, OpensATwoDigitNameThroughALink) {
    char dir[] = "/tmp/vek-port-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/COM10";
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
    port.SetPort(link);
    port.Open();
    EXPECT_TRUE(port.Connected());
    port.Close();
    unlink(link.c_str());
    rmdir(dir);
}

TEST_F(PtyPort, OpenTwiceAndCloseTwiceDoNothing) {
    port.Close();
    port.Open();
    port.Open();
    EXPECT_TRUE(port.Connected());
    port.Close();
    port.Close();
    EXPECT_FALSE(port.Connected());
    port.Open();  // released on close
    EXPECT_TRUE(port.Connected());
}

TEST_F(PtyPort, MissingPortFailsWithCode1AndENOENT) {
    port.SetPort("/dev/vek-no-such-port");
    EComPort e = CatchComError([&] { port.Open(); });
    EXPECT_EQ(e.Code, CE_OpenFailed);
    EXPECT_EQ(e.WinCode, ENOENT);
    EXPECT_EQ(std::string(e.what()),
              "Unable to open com port (Error: " + std::to_string(ENOENT) + ")");
    EXPECT_FALSE(port.Connected());
}

TEST_F(PtyPort, PortHeldByAnotherOpenIsBusy) {
    port.Open();
    TComPort second;
    second.SetPort(pty.SlavePath());
    EComPort e = CatchComError([&] { second.Open(); });
    EXPECT_EQ(e.Code, CE_OpenFailed);
    EXPECT_EQ(e.WinCode, EBUSY);
    EXPECT_FALSE(second.Connected());
    port.Close();
    second.Open();
    EXPECT_TRUE(second.Connected());
}

TEST_F(PtyPort, ReadAndWriteOnAClosedPortFailWithCode24) {
    uint8_t buf[4] = {};
    for (bool reading : {true, false}) {
        EComPort e = CatchComError([&] { reading ? port.Read(buf, 3) : port.Write(buf, 3); });
        EXPECT_EQ(e.Code, CE_PortNotOpen);
        EXPECT_STREQ(e.what(), "Port Not Open");
    }
    EXPECT_EQ(CatchComError([&] { port.ClearBuffer(true, true); }).Code, CE_PurgeFailed);
}

TEST_F(PtyPort, WriteSendsTheBytes) {
    port.Open();
    const uint8_t request[] = {0x01, 0x11, 0xC0, 0x2C};
    EXPECT_EQ(port.Write(request, 4), 4);
    EXPECT_EQ(pty.Receive(4, 2s), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
}

TEST_F(PtyPort, ReadOfSilenceReturnsNothingAfterTheTotalTimeout) {
    port.Open();
    uint8_t buf[3];
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 3), 0);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1290ms);  // 100 × 3 + 1000
    EXPECT_LT(elapsed, 2500ms);
}

TEST_F(PtyPort, ReadReturnsWhatCameOnceTheLineFallsSilent) {
    port.Open();
    Clock::time_point sent;
    std::thread peer([&] {
        std::this_thread::sleep_for(200ms);
        sent = Clock::now();
        pty.Send({1, 2, 3, 4});
    });
    uint8_t buf[10];
    int n = port.Read(buf, 10);
    auto returned = Clock::now();
    peer.join();
    EXPECT_EQ(n, 4);
    EXPECT_EQ(buf[3], 4);
    EXPECT_GE(returned - sent, 95ms);   // interval time-out after the fourth byte
    EXPECT_LT(returned - sent, 900ms);  // long before the 2000 ms total
}

TEST_F(PtyPort, ReadOfBytesAlreadyWaitingReturnsAtOnce) {
    port.Open();
    pty.Send({7, 8, 9});
    std::this_thread::sleep_for(50ms);
    uint8_t buf[3];
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 3), 3);
    EXPECT_LT(Clock::now() - start, 90ms);
    EXPECT_EQ(buf[2], 9);
}

TEST_F(PtyPort, ClearBufferDropsWaitingInput) {
    port.Open();
    pty.Send({1, 2, 3});
    std::this_thread::sleep_for(50ms);
    port.ClearBuffer(true, true);
    pty.Send({4});
    uint8_t buf[3];
    EXPECT_EQ(port.Read(buf, 3), 1);
    EXPECT_EQ(buf[0], 4);
}

TEST_F(PtyPort, HungUpLineFailsTheReadAndLeavesThePortOpen) {
    port.Open();
    pty.CloseMaster();
    uint8_t buf[3];
    EComPort e = CatchComError([&] { port.Read(buf, 3); });
    EXPECT_EQ(e.Code, CE_ReadFailed);
    EXPECT_GT(e.WinCode, 0);
    EXPECT_TRUE(port.Connected());
}

}  // namespace
