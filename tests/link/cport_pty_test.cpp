// The POSIX port on real pseudo-terminals, in real time: the far end of the port contract
// (port_contract_test.cpp), and what only this platform has.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/Cport.h"
#include "support/com_error.h"
#include "support/port_contract.h"
#include "support/pty_pair.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// The contract's far end: the pseudo-terminal's master.
class PtyFarEnd final : public PortFarEnd {
  public:
    ~PtyFarEnd() override {
        for (std::thread& sender : senders_)
            sender.join();
    }
    std::string PortName() const override { return pty_.SlavePath(); }
    void WillReceive(TComPort&, int) override {}
    Bytes Received(TComPort&, int count) override { return pty_.Receive(count, 2s); }
    void SendAfter(TComPort&, int delayMs, const Bytes& bytes) override {
        if (delayMs == 0) return pty_.Send(bytes);
        senders_.emplace_back([this, delayMs, bytes] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            pty_.Send(bytes);
        });
    }
    std::string LineSettings(TComPort&) override {
        termios tio{};
        if (tcgetattr(pty_.MasterFd(), &tio) != 0) return "?";
        const std::pair<speed_t, const char*> speeds[] = {
            {B4800, "4800"}, {B9600, "9600"}, {B19200, "19200"}, {B115200, "115200"}};
        std::string speed = "?";
        for (auto [code, text] : speeds) {
            if (cfgetospeed(&tio) == code) speed = text;
        }
        const char* bits = (tio.c_cflag & CSIZE) == CS8 ? " 8 " : " ? ";
        return speed + bits + ((tio.c_cflag & CSTOPB) ? "2" : "1");
    }

  private:
    PtyPair pty_;
    std::vector<std::thread> senders_;
};

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

std::unique_ptr<PortFarEnd> MakePortFarEnd() {
    return std::make_unique<PtyFarEnd>();
}

const PortFacts& ThisPlatformsPortFacts() {
    static const PortFacts facts{"/dev/vek-no-such-port", ENOENT, EBUSY, EBADF};
    return facts;
}
