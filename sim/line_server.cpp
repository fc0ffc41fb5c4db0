#include "line_server.h"

#include "link/port_list.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>

namespace vsim {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::string Timestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms));
    return text;
}

int PollMs(SimTime deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SimClock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

}  // namespace

std::chrono::microseconds CharacterTime(int baud) {
    if (baud <= 0) baud = 9600;
    return std::chrono::microseconds(11'000'000LL / baud);
}

std::chrono::microseconds FrameGap(int baud, std::chrono::microseconds floor) {
    return std::max(CharacterTime(baud) * 7 / 2, floor);
}

LineServer::LineServer(ServerOptions options) : options_(options) {}

LineServer::~LineServer() {
    Stop();
}

void LineServer::Start() {
    if (Running()) return;
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) Fail("posix_openpt");
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        const int saved = errno;
        Stop();
        errno = saved;
        Fail("pseudo-terminal");
    }
    portPath_ = name;
    // The server keeps the slave side open itself, so the line does not hang up between the
    // opens of a port, and sets it raw so that no byte is echoed or translated.
    slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (slaveKeeper_ < 0 || ::tcgetattr(slaveKeeper_, &tio) != 0) {
        const int saved = errno;
        Stop();
        errno = saved;
        Fail("open pseudo-terminal");
    }
    ::cfmakeraw(&tio);
    // The speed is left to the port that opens the other side: a pseudo-terminal does not
    // pace bytes, the server does that itself.
    ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int saved = errno;
        Stop();
        errno = saved;
        Fail("pipe");
    }
    stop_ = false;
    thread_ = std::thread([this] { Serve(); });
}

void LineServer::Stop() {
    stop_ = true;
    if (wakePipe_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wakePipe_[1], &byte, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int* fd : {&master_, &slaveKeeper_, &wakePipe_[0], &wakePipe_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

bool LineServer::SleepUntil(SimTime deadline) {
    while (!stop_) {
        const auto now = SimClock::now();
        if (now >= deadline) return true;
        const auto left = deadline - now;
        if (left < std::chrono::milliseconds(2)) {
            std::this_thread::sleep_for(left);  // finer than poll's milliseconds
            continue;
        }
        pollfd pfd{wakePipe_[0], POLLIN, 0};
        ::poll(
            &pfd, 1,
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
    }
    return false;
}

void LineServer::Serve() {
    const auto gap = FrameGap(options_.baud, options_.gapFloor);
    std::vector<uint8_t> pending;
    SimTime lastByte{};
    // A frame longer than any request can be is line noise; it is cut off here.
    constexpr size_t kMaxFrame = 4096;
    while (!stop_) {
        int timeout = -1;
        if (!pending.empty()) timeout = PollMs(lastByte + gap);
        pollfd fds[2] = {{master_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (stop_) break;
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            uint8_t buffer[512];
            ssize_t n;
            while ((n = ::read(master_, buffer, sizeof buffer)) > 0) {
                pending.insert(pending.end(), buffer, buffer + n);
                lastByte = SimClock::now();
            }
            if (pending.size() > kMaxFrame) {
                Log("rx", pending.data(), std::min<size_t>(pending.size(), 32),
                    "over-long burst, discarded");
                pending.clear();
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            SleepUntil(SimClock::now() + std::chrono::milliseconds(20));
        }
        if (!pending.empty() && SimClock::now() - lastByte >= gap) {
            std::vector<uint8_t> frame;
            frame.swap(pending);
            HandleFrame(frame);
        }
    }
}

void LineServer::HandleFrame(const std::vector<uint8_t>& frame) {
    const SimTime received = SimClock::now();
    std::string note;
    std::optional<WireReply> reply;
    int turnaround;
    {
        std::lock_guard lock(mutex_);
        reply = line_.Process(frame, received, &note);
        turnaround = line_.TurnaroundMs();
    }
    Log("rx", frame.data(), frame.size(), note);
    if (!reply) return;
    const SimTime start = received + std::chrono::milliseconds(turnaround);
    if (!SleepUntil(start)) return;
    SendPaced(*reply, start);
}

bool LineServer::SendPaced(const WireReply& reply, SimTime start) {
    const auto charTime = CharacterTime(options_.baud);
    const auto gap = std::chrono::milliseconds(reply.splitGapMs);
    const auto& bytes = reply.bytes;
    size_t sent = 0;
    while (sent < bytes.size()) {
        // Byte i has been received in full at start + (i + 1) character times (plus the gap
        // of a split reply); everything that is due goes out in one write.
        auto due = [&](size_t i) {
            auto t = start + charTime * static_cast<long long>(i + 1);
            if (reply.splitGapMs > 0 && i >= reply.splitAt) t += gap;
            return t;
        };
        if (!SleepUntil(due(sent))) return false;
        const auto now = SimClock::now();
        size_t end = sent + 1;
        while (end < bytes.size() && due(end) <= now)
            ++end;
        ssize_t n = ::write(master_, bytes.data() + sent, end - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            // Nobody reads the port and its queue is full: the rest of the reply is lost.
            pollfd pfd{master_, POLLOUT, 0};
            if (::poll(&pfd, 1, 100) <= 0) {
                Log("tx", bytes.data(), sent, "port not read, reply cut");
                return false;
            }
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    Log("tx", bytes.data(), bytes.size(),
        reply.splitGapMs > 0 ? "split after " + std::to_string(reply.splitAt) + " bytes" : "");
    return true;
}

void LineServer::Log(const char* direction, const uint8_t* bytes, size_t count,
                     const std::string& note) {
    if (!log) return;
    std::string text = Timestamp() + " " + direction;
    char hex[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        text += hex;
    }
    if (!note.empty()) text += "  (" + note + ")";
    log(text);
}

bool ValidPortName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

PublishedPort::~PublishedPort() {
    Remove();
}

std::string PublishedPort::Publish(const std::string& name, const std::string& target) {
    Remove();
    if (!ValidPortName(name))
        return "the port name \"" + name + "\" is not usable (letters, digits, - _ . only)";
    const std::string dir = VirtualPortDirectory();
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return dir + ": " + std::generic_category().message(errno);
    const std::string path = dir + "/" + name;
    // The line that serves a name holds a lock on a hidden file beside its link. The kernel
    // lets the lock go when that process ends, however it ends, so a free lock means any link
    // of that name was left behind, whatever it points at now.
    const std::string lockPath = dir + "/." + name + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) return lockPath + ": " + std::generic_category().message(errno);
    auto refuse = [lock](std::string reason) {
        ::close(lock);
        return reason;
    };
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) return refuse(path + " is in use by another line");
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) return refuse(path + " exists and is not a link");
        ::unlink(path.c_str());
    }
    if (::symlink(target.c_str(), path.c_str()) != 0)
        return refuse(path + ": " + std::generic_category().message(errno));
    path_ = path;
    target_ = target;
    lock_ = lock;
    return {};
}

void PublishedPort::Remove() {
    if (path_.empty()) return;
    char buffer[512];
    const ssize_t n = ::readlink(path_.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target_) ::unlink(path_.c_str());
    ::close(lock_);  // the lock file stays: removing it could let two lines take one name
    lock_ = -1;
    path_.clear();
    target_.clear();
}

}  // namespace vsim
