// The Win32 serial port on a real line: under Wine, a pseudo-terminal linked into the prefix as
// VEK_TEST_LINE_PORT, whose far end (line_peer) takes text commands written to the line.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "link/Cport.h"
#include "support/com_error.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class LinePort : public ::testing::Test {
  protected:
    LinePort() {
        ApplyComPort1Design(port);
        port.SetPort(VEK_TEST_LINE_PORT);
    }

    // Opens the port with nothing left on the line by an earlier test.
    void OpenEmpty() {
        port.Open();
        port.ClearBuffer(true, true);
    }

    void Command(const std::string& text) {
        const std::string line = text + "\n";
        ASSERT_EQ(port.Write(reinterpret_cast<const uint8_t*>(line.data()),
                             static_cast<int>(line.size())),
                  static_cast<int>(line.size()));
    }

    Bytes ReadBytes(int count) {
        Bytes buffer(count);
        buffer.resize(port.Read(buffer.data(), count));
        return buffer;
    }

    std::string ReadText(int count) {
        Bytes bytes = ReadBytes(count);
        return std::string(bytes.begin(), bytes.end());
    }

    TComPort port;
};

TEST_F(LinePort, OpensATwoDigitPortAndTheLineTakesItsSettings) {
    port.SetBaudRate(br19200);
    port.SetStopBits(sbTwoStopBits);
    OpenEmpty();
    ASSERT_TRUE(port.Connected());
    Command("line");
    EXPECT_EQ(ReadText(32), "19200 8 2\n");

    port.SetBaudRate(br4800);  // applied at once while open
    port.SetStopBits(sbOneStopBit);
    Command("line");
    EXPECT_EQ(ReadText(32), "4800 8 1\n");
}

TEST_F(LinePort, OpenTwiceAndCloseTwiceDoNothing) {
    port.Close();
    port.Open();
    port.Open();
    EXPECT_TRUE(port.Connected());
    port.Close();
    port.Close();
    EXPECT_FALSE(port.Connected());
    port.Open();  // the handle was released
    EXPECT_TRUE(port.Connected());
}

TEST_F(LinePort, MissingPortFailsWithCode1AndSystemError2) {
    port.SetPort("COM97");
    EComPort e = CatchComError([&] { port.Open(); });
    EXPECT_EQ(e.Code, CE_OpenFailed);
    EXPECT_EQ(e.WinCode, ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 2)");
    EXPECT_FALSE(port.Connected());
}

TEST_F(LinePort, PortHeldByAnotherOpenIsRefusedWithSystemError5) {
    // Wine does not enforce the exclusive share mode of a serial device.
    if (RunningUnderWine()) GTEST_SKIP() << "Wine opens a held serial port a second time";
    port.Open();
    TComPort second;
    second.SetPort(VEK_TEST_LINE_PORT);
    EComPort e = CatchComError([&] { second.Open(); });
    EXPECT_EQ(e.Code, CE_OpenFailed);
    EXPECT_EQ(e.WinCode, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(second.Connected());
}

TEST_F(LinePort, ClosedPortFailsReadAndWriteWithCode24AndThePurge) {
    uint8_t buf[4] = {};
    for (bool reading : {true, false}) {
        EComPort e = CatchComError([&] { reading ? port.Read(buf, 3) : port.Write(buf, 3); });
        EXPECT_EQ(e.Code, CE_PortNotOpen);
        EXPECT_EQ(e.WinCode, -1);
        EXPECT_STREQ(e.what(), "Port Not Open");
    }
    EComPort e = CatchComError([&] { port.ClearBuffer(true, true); });
    EXPECT_EQ(e.Code, CE_PurgeFailed);
    EXPECT_EQ(e.WinCode, ERROR_INVALID_HANDLE);
}

TEST_F(LinePort, WriteSendsTheBytes) {
    OpenEmpty();
    Command("echo 4");
    const uint8_t request[] = {0x01, 0x11, 0xC0, 0x2C};
    EXPECT_EQ(port.Write(request, 4), 4);
    EXPECT_EQ(ReadBytes(4), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
}

TEST_F(LinePort, ReadOfSilenceReturnsNothingAfterTheTotalTimeout) {
    OpenEmpty();
    uint8_t buf[3];
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 3), 0);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1290ms);  // 100 × 3 + 1000
    EXPECT_LT(elapsed, 2500ms);
    EXPECT_TRUE(port.Connected());
}

TEST_F(LinePort, ReadReturnsWhatCameOnceTheLineFallsSilent) {
    OpenEmpty();
    Command("send 200 01020304");
    auto start = Clock::now();
    Bytes got = ReadBytes(10);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(got, (Bytes{1, 2, 3, 4}));
    EXPECT_GE(elapsed, 280ms);   // the burst after 200 ms, then 100 ms of silence
    EXPECT_LT(elapsed, 1500ms);  // long before the 2000 ms total
}

TEST_F(LinePort, ReadOfBytesAlreadyWaitingReturnsAtOnce) {
    OpenEmpty();
    Command("send 0 AA070809");  // one write: once 0xAA is here, so is the rest
    ASSERT_EQ(ReadBytes(1), Bytes{0xAA});
    auto start = Clock::now();
    EXPECT_EQ(ReadBytes(3), (Bytes{7, 8, 9}));
    EXPECT_LT(Clock::now() - start, 90ms);
}

TEST_F(LinePort, ClearBufferDropsWaitingInput) {
    OpenEmpty();
    Command("send 0 AA010203");
    ASSERT_EQ(ReadBytes(1), Bytes{0xAA});
    port.ClearBuffer(true, true);
    Command("send 0 04");
    EXPECT_EQ(ReadBytes(3), Bytes{4});
}

}  // namespace
