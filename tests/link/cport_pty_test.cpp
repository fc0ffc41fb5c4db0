// The POSIX port on real pseudo-terminals, in real time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "link/Cport.h"
#include "support/com_error.h"
#include "support/pty_pair.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

class PtyPort : public ::testing::Test {
  protected:
    PtyPort() {
        ApplyComPort1Design(port);
        port.SetPort(pty.SlavePath());
    }
    PtyPair pty;
    TComPort port;
};

// Whatever the port's previous user left set, only the port's own settings are in force.
TEST_F(PtyPort, OpensAnyDevicePathAndAppliesTheLineSettings) {
    termios left{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &left), 0);
    left.c_iflag |= IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP | ICRNL | IGNBRK;
    left.c_oflag |= OPOST | ONLCR;
    left.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    left.c_cflag |= CRTSCTS | PARENB;
    ASSERT_EQ(tcsetattr(pty.MasterFd(), TCSANOW, &left), 0);
    port.SetBaudRate(br19200);
    port.SetStopBits(sbTwoStopBits);
    port.Open();
    ASSERT_TRUE(port.Connected());
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &tio), 0);  // the master reports the slave's settings
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_iflag, 0u);
    EXPECT_EQ(tio.c_oflag, 0u);
    EXPECT_EQ(tio.c_lflag, 0u);
    EXPECT_EQ(tio.c_cflag & (CRTSCTS | PARENB), 0u);

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

TEST_F(PtyPort, ClosedPortCanBeOpenedAgainByAnotherUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to try the open as another user";
    port.Open();
    port.Close();
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0666), 0);
    pid_t child = fork();
    if (child == 0) {
        // The exclusive flag would refuse every user but root if closing left it set.
        if (setuid(65534) != 0) _exit(2);
        TComPort other;
        other.SetPort(pty.SlavePath());
        try {
            other.Open();
        } catch (const EComPort&) {
            _exit(1);
        }
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
