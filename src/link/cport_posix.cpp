// The serial port on POSIX systems: an exclusive, raw, non-blocking tty whose reads and
// writes wait with poll() and follow the port's time-outs the way the Windows driver does.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "link/Cport.h"

int SetArbitraryLineSpeed(int fd, uint32_t bitsPerSecond);

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::optional<speed_t> StandardSpeed(uint32_t bitsPerSecond) {
    switch (bitsPerSecond) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return std::nullopt;
    }
}

// Milliseconds until a deadline for poll(), rounded up so that poll never wakes early.
int PollTimeout(Clock::time_point deadline) {
    auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000'000));
}

class PosixComBackend final : public ComPortBackend {
  public:
    ~PosixComBackend() override { Close(); }

    void Open(const std::string& port) override {
        streamFrom_.reset();
        int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) throw EComPort(CE_OpenFailed, errno);
        // flock stops a second copy of the tool even when it runs as root; TIOCEXCL stops
        // other programs that open the tty without locking it.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int err = (errno == EWOULDBLOCK) ? EBUSY : errno;
            ::close(fd);
            throw EComPort(CE_OpenFailed, err);
        }
        ::ioctl(fd, TIOCEXCL);
        fd_ = fd;
    }

    void SetupBuffers(int32_t input, int32_t output) override {
        // The kernel's tty queues have a fixed size; only the handle and the sizes are checked.
        if (fd_ < 0) throw EComPort(CE_SetupComFailed, EBADF);
        if (input <= 0 || output <= 0) throw EComPort(CE_SetupComFailed, EINVAL);
    }

    void SetControlBlock(const ComControlBlock& dcb) override {
        streamFrom_.reset();
        if (fd_ < 0) throw EComPort(CE_SetStateFailed, EBADF);
        termios previous{};
        if (::tcgetattr(fd_, &previous) != 0) throw EComPort(CE_SetStateFailed, errno);
        // Built from nothing: no flag that the port's previous user left (input flow control
        // that makes the kernel send XOFF into a frame, parity marking, character mapping,
        // echo) survives; only what the port's settings ask for is set.
        termios tio{};
        tio.c_cflag = CLOCAL | CREAD;
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        tio.c_cflag |= kSizes[std::clamp<int>(dcb.ByteSize, 5, 8) - 5];
        switch (dcb.Parity) {
            case 1:
                tio.c_cflag |= PARENB | PARODD;
                break;
            case 2:
                tio.c_cflag |= PARENB;
                break;
            case 3:
                tio.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case 4:
                tio.c_cflag |= PARENB | CMSPAR;
                break;
            default:
                break;
        }
        if (dcb.fParity) tio.c_iflag |= INPCK;
        if (dcb.StopBits != 0) tio.c_cflag |= CSTOPB;
        if (dcb.fOutxCtsFlow || dcb.fRtsControl == rtsHandshake) tio.c_cflag |= CRTSCTS;
        if (dcb.fOutX) tio.c_iflag |= IXON;
        if (dcb.fInX) tio.c_iflag |= IXOFF;
        tio.c_cc[VSTART] = dcb.XonChar;
        tio.c_cc[VSTOP] = dcb.XoffChar;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        std::optional<speed_t> speed = StandardSpeed(dcb.BaudRate);
        if (speed) {
            ::cfsetispeed(&tio, *speed);
            ::cfsetospeed(&tio, *speed);
        }
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0) throw EComPort(CE_SetStateFailed, errno);
        if (!speed) {
            if (int err = SetArbitraryLineSpeed(fd_, dcb.BaudRate)) {
                throw EComPort(CE_SetStateFailed, err);
            }
        }
        SetModemLine(TIOCM_DTR, dcb.fDtrControl);
        SetModemLine(TIOCM_RTS, dcb.fRtsControl);
        bitsPerChar_ = 1 + dcb.ByteSize + (dcb.Parity != 0 ? 1 : 0) + (dcb.StopBits != 0 ? 2 : 1);
        bitsPerSecond_ = std::max<uint32_t>(dcb.BaudRate, 1);
    }

    void SetTimeouts(const ComTimeoutValues& timeouts) override {
        if (fd_ < 0) throw EComPort(CE_SetTimeoutsFailed, EBADF);
        timeouts_ = timeouts;
    }

    void Purge(unsigned flags) override {
        streamFrom_.reset();
        if (fd_ < 0) throw EComPort(CE_PurgeFailed, EBADF);
        bool input = flags & (kPurgeRxClear | kPurgeRxAbort);
        bool output = flags & (kPurgeTxClear | kPurgeTxAbort);
        int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        if ((input || output) && ::tcflush(fd_, queue) != 0) {
            throw EComPort(CE_PurgeFailed, errno);
        }
    }

    void Close() override {
        streamFrom_.reset();
        if (fd_ < 0) return;
        // The exclusive flag outlives the descriptor on a pseudo-terminal that another
        // process keeps open; without clearing it no one but root could open the port again.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // also releases the flock
        fd_ = -1;
    }

    int Write(const uint8_t* buffer, int count) override {
        streamFrom_.reset();
        const auto deadline = TotalDeadline(timeouts_.WriteTotalTimeoutMultiplier,
                                            timeouts_.WriteTotalTimeoutConstant, count);
        int written = 0;
        while (written < count) {
            ssize_t n = ::write(fd_, buffer + written, static_cast<size_t>(count - written));
            if (n > 0) {
                written += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) throw EComPort(CE_WriteFailed, errno);
            if (WaitFor(POLLOUT, deadline, CE_WriteFailed) == 0) return written;
        }
        WaitUntilSent(deadline);
        return written;
    }

    int Read(uint8_t* buffer, int count) override {
        const auto start = Clock::now();
        const uint32_t interval = timeouts_.ReadIntervalTimeout;
        const uint32_t multiplier = timeouts_.ReadTotalTimeoutMultiplier;
        const uint32_t constant = timeouts_.ReadTotalTimeoutConstant;

        // The two Windows special cases of MAXDWORD: return at once with what is waiting, or
        // wait up to the constant for the first byte and return at once after it.
        const bool returnAtOnce = interval == kMaxDword && multiplier == 0 && constant == 0;
        const bool firstByteOnly = interval == kMaxDword && multiplier == kMaxDword &&
                                   constant > 0 && constant < kMaxDword;
        std::optional<Clock::time_point> totalDeadline;
        if (firstByteOnly) {
            totalDeadline = start + milliseconds(constant);
        } else if (!returnAtOnce) {
            totalDeadline = TotalDeadline(multiplier, constant, count);
        }
        const bool useInterval = interval != 0 && interval != kMaxDword;

        int received = 0;
        short lastEvents = 0;
        Clock::time_point lastByte{};
        // The rest of the count cannot come sooner than the line carries it: after a byte has
        // woken the read, and after each run of bytes, it sleeps until then (never past a
        // deadline) instead of waking for every byte. Bytes that came during a sleep count
        // from the wake, so a pause after them ends the read no sooner than the interval asks.
        const uint32_t sleepInterval = useInterval ? interval : 0;
        Clock::time_point restWaitedAfter{};
        // Right after a request nothing has come yet: the first look is a wait, but for a read
        // that returns at once. A read for more of a reply whose earlier part the last read
        // took goes on at the line's speed: it first sleeps until all but the last character
        // of its count can have come.
        bool look = returnAtOnce;
        if (streamFrom_ && !returnAtOnce && !firstByteOnly) {
            SleepForRest(count, *streamFrom_, totalDeadline, sleepInterval);
            look = true;
        }
        streamFrom_.reset();
        for (;;) {
            if (look) {
                int n = ReadAvailable(buffer + received, count - received);
                if (n > 0) {
                    received += n;
                    lastByte = Clock::now();
                } else if (lastEvents & (POLLHUP | POLLERR)) {
                    // A hung-up tty reads as empty for ever; without this the loop would spin.
                    throw EComPort(CE_ReadFailed, EIO);
                }
                if (received == count || returnAtOnce || (firstByteOnly && received > 0)) break;
                if (received > 0 && restWaitedAfter != lastByte) {
                    restWaitedAfter = lastByte;
                    if (SleepForRest(count - received, lastByte, totalDeadline, sleepInterval)) {
                        continue;
                    }
                }
            }
            look = true;
            std::optional<Clock::time_point> deadline = totalDeadline;
            if (useInterval && received > 0) {
                auto intervalEnd = lastByte + milliseconds(interval);
                if (!deadline || intervalEnd < *deadline) deadline = intervalEnd;
            }
            lastEvents = WaitFor(POLLIN, deadline, CE_ReadFailed);
            if (lastEvents == 0) break;
            if ((lastEvents & POLLIN) && !firstByteOnly) {
                SleepForRest(count - received - 1, Clock::now(), totalDeadline, sleepInterval);
            }
        }
        if (received > 0 && !returnAtOnce && (received == count || firstByteOnly)) {
            streamFrom_ = lastByte;
        }
        return received;
    }

  private:
    // Deadline of a total time-out of multiplier × count + constant; none when both are 0.
    static std::optional<Clock::time_point> TotalDeadline(uint32_t multiplier, uint32_t constant,
                                                          int count) {
        if (multiplier == 0 && constant == 0) return std::nullopt;
        uint64_t ms = uint64_t{multiplier} * static_cast<uint64_t>(count) + constant;
        return Clock::now() + milliseconds(ms);
    }

    // Reads what is waiting, without blocking (a raw tty with VMIN 0 reads 0 when empty).
    int ReadAvailable(uint8_t* buffer, int count) {
        for (;;) {
            ssize_t n = ::read(fd_, buffer, static_cast<size_t>(count));
            if (n >= 0) return static_cast<int>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return 0;
            throw EComPort(CE_ReadFailed, errno);
        }
    }

    // Waits until the descriptor is ready for events or the deadline passes. Returns the
    // events seen, 0 at the deadline; an error condition counts as ready, so that the next
    // read or write reports it.
    short WaitFor(short events, std::optional<Clock::time_point> deadline, int failureCode) {
        for (;;) {
            int timeout = deadline ? PollTimeout(*deadline) : -1;
            if (deadline && timeout == 0) return 0;
            pollfd pfd{fd_, events, 0};
            int r = ::poll(&pfd, 1, timeout);
            if (r > 0) return pfd.revents;
            if (r == 0) {
                if (deadline && Clock::now() >= *deadline) return 0;
                continue;
            }
            if (errno != EINTR) throw EComPort(failureCode, errno);
        }
    }

    // Sleeps while `rest` more characters cannot have followed a byte that came at `from`, but
    // for the last of them, which a wait then meets as it comes (a sleep wakes late by the
    // kernel's timer slack, a character at 115200 bit/s); never past the total deadline nor
    // the interval after that byte (0: none). Returns whether there was anything to sleep.
    bool SleepForRest(int rest, Clock::time_point from,
                      std::optional<Clock::time_point> totalDeadline, uint32_t interval) const {
        if (rest <= 1) return false;
        Clock::time_point due = from + CharactersTime(rest - 1);
        if (totalDeadline) due = std::min(due, *totalDeadline);
        if (interval != 0) due = std::min(due, from + milliseconds(interval));
        if (due <= Clock::now()) return false;
        std::this_thread::sleep_until(due);
        return true;
    }

    // The time `count` characters take on the line at its speed.
    std::chrono::nanoseconds CharactersTime(int count) const {
        return std::chrono::nanoseconds(uint64_t{static_cast<unsigned>(count)} *
                                        static_cast<unsigned>(bitsPerChar_) * 1'000'000'000 /
                                        bitsPerSecond_);
    }

    // A write ends when its bytes have left the transmitter (or at its time-out). Sleeps for
    // the time the queued characters need at the line speed instead of spinning.
    void WaitUntilSent(std::optional<Clock::time_point> deadline) {
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
            auto need =
                milliseconds(1 + uint64_t{static_cast<unsigned>(queued)} *
                                     static_cast<unsigned>(bitsPerChar_) * 1000 / bitsPerSecond_);
            auto wake = Clock::now() + need;
            if (deadline) {
                if (Clock::now() >= *deadline) return;
                wake = std::min(wake, *deadline);
            }
            std::this_thread::sleep_until(wake);
        }
    }

    // Modem lines take the control values 0 (inactive) and 1 (active); handshake modes leave
    // them to the driver. Pseudo-terminals have no modem lines and refuse the call.
    void SetModemLine(int line, uint8_t control) {
        if (control > 1) return;
        ::ioctl(fd_, control == 1 ? TIOCMBIS : TIOCMBIC, &line);
    }

    int fd_ = -1;
    // When the last read ended on a character, not on a time-out: the time it took it. Any
    // other use of the port ends the stream.
    std::optional<Clock::time_point> streamFrom_;
    ComTimeoutValues timeouts_{};
    int bitsPerChar_ = 10;
    uint32_t bitsPerSecond_ = 9600;
};

}  // namespace

std::unique_ptr<ComPortBackend> MakeSystemComBackend() {
    return std::make_unique<PosixComBackend>();
}
