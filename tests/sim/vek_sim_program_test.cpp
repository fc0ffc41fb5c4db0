// The vek-sim program itself: started as a script would start it, it announces its port with
// a "ready" line, serves it, takes commands on standard input and removes its link on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/Comportclass.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

class SimProcess {
  public:
    SimProcess(std::vector<std::string> args, const std::string& runtimeDir) {
        int in[2], out[2], err[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            posix_spawn_file_actions_addclose(&actions, fd);
        args.insert(args.begin(), VEK_SIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env{"XDG_RUNTIME_DIR=" + runtimeDir};
        for (char** e = environ; *e; ++e) {
            if (std::string(*e).rfind("XDG_RUNTIME_DIR=", 0) != 0) env.emplace_back(*e);
        }
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, VEK_SIM_PATH, &actions, nullptr, argv.data(), envp.data()) != 0)
            throw std::runtime_error("posix_spawn");
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {stdin_, stdout_, stderr_})
            if (fd >= 0) ::close(fd);
    }

    // The next line of standard output, or "" when none comes in time.
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto end = Clock::now() + timeout;
        for (;;) {
            if (auto nl = out_.find('\n'); nl != std::string::npos) {
                std::string line = out_.substr(0, nl);
                out_.erase(0, nl + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            pollfd pfd{stdout_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char buffer[512];
            const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
            if (n <= 0) return {};
            out_.append(buffer, static_cast<size_t>(n));
        }
    }
    std::string ReadAllErrors() {
        std::string text;
        char buffer[512];
        ssize_t n;
        while ((n = ::read(stderr_, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    void Send(const std::string& text) {
        ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Exit status, or -1 when the process has not ended within the timeout.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto end = Clock::now() + timeout;
        int status = 0;
        while (Clock::now() < end) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            pollfd pfd{stderr_, POLLIN, 0};
            ::poll(&pfd, 1, 20);  // stderr closes when the process ends
        }
        return -1;
    }
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    std::string out_;
};

// The tool's port and link on a published port.
struct LinkOn {
    explicit LinkOn(const std::string& path) {
        ApplyComPort1Design(port);
        port.SetPort(path);
        port.Open();
    }
    TComPort port;
    TComPortClass link{port};
    ReplyBuffer reply{};
};

std::string RuntimeDir(const char* name) {
    const std::string dir = ::testing::TempDir() + name;
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

TEST(VekSimProgram, ServesItsPublishedPortAndCleansUpOnSigterm) {
    const std::string dir = RuntimeDir("vek-sim-program");
    SimProcess sim({"--device", "3:106:2", "--device", "4:100", "--name", "ttyVEKtest", "--busy",
                    "100", "-e", "pressure 3 1 100"},
                   dir);
    const std::string ready = sim.ReadLine();
    ASSERT_EQ(ready, "ready " + dir + "/vek-ports/ttyVEKtest");
    const std::string path = ready.substr(6);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    LinkOn on(path);
    TComPortClass& link = on.link;
    ReplyBuffer& reply = on.reply;
    ASSERT_EQ(link.Transact(2, 17, {}, reply), lrOk);
    EXPECT_EQ(reply[3], 2);
    EXPECT_EQ(reply[5], 106);
    const uint8_t area[] = {0x00, 0x01};
    ASSERT_EQ(link.Transact(2, 71, area, reply), lrOk);
    EXPECT_NEAR(static_cast<int16_t>((reply[3] << 8) | reply[4]), 16383, 30);

    // Commands on standard input answer on standard output, bad ones with a reason.
    sim.Send("fault 3 exception 4\n");
    EXPECT_EQ(sim.ReadLine(), "faults: exception 4");
    EXPECT_EQ(link.Transact(2, 17, {}, reply), 4);
    // The transaction ends on the exception header; let the rest of that reply pass.
    link.WaitMs(50);
    sim.Send("fault 9 crc\n");
    EXPECT_EQ(sim.ReadLine().rfind("error: ", 0), 0u);
    sim.Send(std::string(5000, 'x') + "\nfault 3 clear\n");
    EXPECT_EQ(sim.ReadLine().rfind("error: ", 0), 0u);
    EXPECT_EQ(sim.ReadLine(), "faults: none");
    EXPECT_EQ(link.Transact(3, 17, {}, reply), lrOk);
    EXPECT_EQ(reply[5], 100);

    on.port.Close();
    ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(::lstat(path.c_str(), &st), 0) << "the link outlived the program";
}

// A line killed outright leaves its link behind; the next start under that name takes it over
// and serves through it, while the name stays refused as long as its line lives.
TEST(VekSimProgram, RestartTakesOverTheLinkOfAKilledLine) {
    const std::string dir = RuntimeDir("vek-sim-killed");
    const std::vector<std::string> args = {"--device", "1:105", "--name", "ttyVEKkilled"};
    std::string path;
    {
        SimProcess killed(args, dir);
        path = killed.ReadLine().substr(6);
        ASSERT_EQ(path, dir + "/vek-ports/ttyVEKkilled");
        SimProcess second(args, dir);
        EXPECT_EQ(second.Wait(), 1);
        EXPECT_NE(second.ReadAllErrors().find("in use"), std::string::npos);
        ASSERT_EQ(::kill(killed.Pid(), SIGKILL), 0);
        EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    }
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << "a killed line leaves its link";
    // Its pseudo-terminal's number may go to another program's terminal meanwhile: the link
    // then points at a live terminal that is not the line's.
    const int other = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::grantpt(other) | ::unlockpt(other), 0);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::symlink(::ptsname(other), path.c_str()), 0);

    SimProcess restarted(args, dir);
    ASSERT_EQ(restarted.ReadLine(), "ready " + path);
    LinkOn on(path);
    TComPortClass& link = on.link;
    ReplyBuffer& reply = on.reply;
    EXPECT_EQ(link.Transact(0, 17, {}, reply), lrOk);
    EXPECT_EQ(reply[5], 105);
    ::close(other);
}

TEST(VekSimProgram, QuitEndsItAndBadOptionsAreRefused) {
    const std::string dir = RuntimeDir("vek-sim-quit");
    {
        SimProcess sim({}, dir);  // the demonstration line
        const std::string ready = sim.ReadLine();
        ASSERT_EQ(ready.rfind("ready " + dir + "/vek-ports/ttyVEK", 0), 0u) << ready;
        sim.Send("list\n");
        EXPECT_NE(sim.ReadLine().find("106"), std::string::npos);
        std::string line;
        while (!(line = sim.ReadLine(std::chrono::milliseconds(200))).empty()) {
        }
        sim.Send("quit\n");
        EXPECT_EQ(sim.Wait(), 0);
        EXPECT_NE(::access(ready.substr(6).c_str(), F_OK), 0);
    }
    SimProcess bad({"--device", "1:106", "--baud", "slow"}, dir);
    EXPECT_EQ(bad.Wait(), 2);
    EXPECT_NE(bad.ReadAllErrors().find("--baud"), std::string::npos);
}

}  // namespace
