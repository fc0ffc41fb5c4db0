// The serial port's contract on a real line in real time, run by both backends (see
// support/port_contract.h): the POSIX port on a pseudo-terminal, the Win32 port under Wine.
#include <gtest/gtest.h>

#include <chrono>

#include "support/com_error.h"
#include "support/port_contract.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = PortFarEnd::Bytes;

class PortContract : public ::testing::Test {
  protected:
    PortContract() : line(MakePortFarEnd()), facts(ThisPlatformsPortFacts()) {
        ApplyComPort1Design(port);
        port.SetPort(line->PortName());
    }
    // Opens the port with nothing left on the line by an earlier test.
    void OpenEmpty() {
        port.Open();
        port.ClearBuffer(true, true);
    }
    Bytes ReadBytes(int count) {
        Bytes buffer(count);
        buffer.resize(port.Read(buffer.data(), count));
        return buffer;
    }

    std::unique_ptr<PortFarEnd> line;
    const PortFacts& facts;
    TComPort port;
};

TEST_F(PortContract, TheLineTakesThePortsSettingsAtOpenAndWhileOpen) {
    port.SetBaudRate(br19200);
    port.SetStopBits(sbTwoStopBits);
    OpenEmpty();
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(line->LineSettings(port), "19200 8 2");
    port.SetBaudRate(br4800);
    port.SetStopBits(sbOneStopBit);
    EXPECT_EQ(line->LineSettings(port), "4800 8 1");
}

TEST_F(PortContract, OpenTwiceAndCloseTwiceDoNothing) {
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

TEST_F(PortContract, MissingPortFailsWithCode1AndTheSystemsError) {
    port.SetPort(facts.missingPort);
    EComPort e = CatchComError([&] { port.Open(); });
    EXPECT_EQ(e.Code, CE_OpenFailed);
    EXPECT_EQ(e.WinCode, facts.missingError);
    EXPECT_EQ(std::string(e.what()),
              "Unable to open com port (Error: " + std::to_string(facts.missingError) + ")");
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortContract, PortHeldByAnotherOpenIsRefused) {
    if (facts.heldError == 0) GTEST_SKIP() << "this system opens a held serial port again";
    port.Open();
    TComPort second;
    second.SetPort(line->PortName());
    EComPort e = CatchComError([&] { second.Open(); });
    EXPECT_EQ(e.Code, CE_OpenFailed);
    EXPECT_EQ(e.WinCode, facts.heldError);
    EXPECT_FALSE(second.Connected());
    port.Close();
    second.Open();
    EXPECT_TRUE(second.Connected());
}

TEST_F(PortContract, ClosedPortFailsReadWriteAndPurge) {
    uint8_t buf[4] = {};
    for (bool reading : {true, false}) {
        EComPort e = CatchComError([&] { reading ? port.Read(buf, 3) : port.Write(buf, 3); });
        EXPECT_EQ(e.Code, CE_PortNotOpen);
        EXPECT_STREQ(e.what(), "Port Not Open");
    }
    EComPort e = CatchComError([&] { port.ClearBuffer(true, true); });
    EXPECT_EQ(e.Code, CE_PurgeFailed);
    EXPECT_EQ(e.WinCode, facts.closedPurgeError);
}

TEST_F(PortContract, WriteSendsTheBytes) {
    OpenEmpty();
    line->WillReceive(port, 4);
    const uint8_t request[] = {0x01, 0x11, 0xC0, 0x2C};
    EXPECT_EQ(port.Write(request, 4), 4);
    EXPECT_EQ(line->Received(port, 4), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
}

// The read's three completion rules: the total time-out, silence after a byte, the count.
TEST_F(PortContract, ReadOfSilenceReturnsNothingAfterTheTotalTimeout) {
    OpenEmpty();
    uint8_t buf[3];
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 3), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1290ms);  // 100 × 3 + 1000
    EXPECT_LT(elapsed, 2500ms);
    EXPECT_TRUE(port.Connected());
}

TEST_F(PortContract, ReadReturnsWhatCameOnceTheLineFallsSilent) {
    OpenEmpty();
    const auto start = Clock::now();
    line->SendAfter(port, 200, {1, 2, 3, 4});
    EXPECT_EQ(ReadBytes(10), (Bytes{1, 2, 3, 4}));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 280ms);   // the burst after 200 ms, then 100 ms of silence
    EXPECT_LT(elapsed, 1500ms);  // long before the 2000 ms total
}

TEST_F(PortContract, ReadOfBytesAlreadyWaitingReturnsAtOnce) {
    OpenEmpty();
    line->SendAfter(port, 0, {0xAA, 7, 8, 9});  // one write: once 0xAA is here, so is the rest
    ASSERT_EQ(ReadBytes(1), Bytes{0xAA});
    const auto start = Clock::now();
    EXPECT_EQ(ReadBytes(3), (Bytes{7, 8, 9}));
    EXPECT_LT(Clock::now() - start, 90ms);
}

TEST_F(PortContract, ClearBufferDropsWaitingInput) {
    OpenEmpty();
    line->SendAfter(port, 0, {0xAA, 1, 2, 3});
    ASSERT_EQ(ReadBytes(1), Bytes{0xAA});
    port.ClearBuffer(true, true);
    line->SendAfter(port, 0, {4});
    EXPECT_EQ(ReadBytes(3), Bytes{4});
}

}  // namespace
