// The far end of the test line for the Windows port tests under Wine. It opens a
// pseudo-terminal, links its slave at the path given (a COM port of the Wine prefix) and plays
// a scripted device on the master. Commands arrive on the line as text lines:
//   send MS HEX   after MS milliseconds, send the bytes HEX in one write
//   echo N        send back the next N bytes received, in one write
//   line          report the line's settings as "SPEED DATABITS STOPBITS\n"
// This program runs on Linux, beside Wine, and is built with the host's compiler.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

volatile sig_atomic_t stopping = 0;

void Stop(int) {
    stopping = 1;
}

void WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            std::perror("write");
            return;
        }
        done += static_cast<size_t>(n);
    }
}

std::vector<unsigned char> FromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

unsigned SpeedOf(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

std::string LineSettings(int master) {
    termios tio{};
    if (::tcgetattr(master, &tio) != 0) return "error\n";
    int dataBits = 5;
    switch (tio.c_cflag & CSIZE) {
        case CS6:
            dataBits = 6;
            break;
        case CS7:
            dataBits = 7;
            break;
        case CS8:
            dataBits = 8;
            break;
        default:
            break;
    }
    return std::to_string(SpeedOf(::cfgetospeed(&tio))) + " " + std::to_string(dataBits) + " " +
           ((tio.c_cflag & CSTOPB) ? "2" : "1") + "\n";
}

class Peer {
  public:
    explicit Peer(int master) : master_(master) {}

    void Take(unsigned char byte) {
        if (echoLeft_ > 0) {
            echoed_.push_back(byte);
            if (--echoLeft_ == 0) {
                WriteAll(master_, echoed_);
                echoed_.clear();
            }
            return;
        }
        if (byte != '\n') {
            command_.push_back(static_cast<char>(byte));
            return;
        }
        Run(command_);
        command_.clear();
    }

  private:
    void Run(const std::string& command) {
        std::istringstream in(command);
        std::string verb;
        in >> verb;
        if (verb == "send") {
            int ms = 0;
            std::string hex;
            in >> ms >> hex;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            WriteAll(master_, FromHex(hex));
        } else if (verb == "echo") {
            in >> echoLeft_;
        } else if (verb == "line") {
            const std::string text = LineSettings(master_);
            WriteAll(master_, std::vector<unsigned char>(text.begin(), text.end()));
        } else if (!verb.empty()) {
            std::fprintf(stderr, "line_peer: unknown command '%s'\n", command.c_str());
        }
    }

    int master_;
    std::string command_;
    int echoLeft_ = 0;
    std::vector<unsigned char> echoed_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LINK\n", argv[0]);
        return 2;
    }
    const std::string link = argv[1];
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    const char* slave = ::ptsname(master);
    // Holding the slave open keeps the line from hanging up between the port's opens.
    int slaveKeeper = ::open(slave, O_RDWR | O_NOCTTY);
    if (slaveKeeper < 0) {
        std::perror("open slave");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slaveKeeper, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slaveKeeper, TCSANOW, &raw);

    // Published last and at once, so that the link's existence means the line is ready.
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(slave, temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), link.c_str()) != 0) {
        std::perror("symlink");
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = Stop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    Peer peer(master);
    unsigned char buffer[256];
    while (!stopping) {
        pollfd fd{master, POLLIN, 0};
        int ready = ::poll(&fd, 1, 500);
        if (ready <= 0) continue;
        ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) continue;
        for (ssize_t i = 0; i < n; ++i)
            peer.Take(buffer[i]);
    }
    ::unlink(link.c_str());
    return 0;
}
