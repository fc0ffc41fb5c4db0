// Serves a simulated line on a pseudo-terminal from a background thread: requests are cut
// from the byte stream by silence, as a real device does, and replies go out after the
// turnaround delay, paced at the line speed (11 bits a character).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "virtual_line.h"

namespace vsim {

struct ServerOptions {
    int baud = 9600;
    // Shortest silence that ends a frame, whatever the speed: a pseudo-terminal delivers a
    // request in one piece but the scheduler may hold a writer for a moment.
    std::chrono::microseconds gapFloor{5000};
};

// Silence that ends a request at a speed: 3.5 characters of 11 bits, at least the floor.
std::chrono::microseconds FrameGap(int baud, std::chrono::microseconds floor);
// Time one character takes on the wire.
std::chrono::microseconds CharacterTime(int baud);

class LineServer {
  public:
    explicit LineServer(ServerOptions options = {});
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Opens the pseudo-terminal in raw mode at the line speed and starts serving. Raises
    // std::system_error when the pseudo-terminal cannot be had.
    void Start();
    // Stops serving and closes the pseudo-terminal; the published link goes too.
    void Stop();
    bool Running() const { return thread_.joinable(); }

    // The path a serial port opens to reach the line (the pseudo-terminal's slave side).
    const std::string& PortPath() const { return portPath_; }

    // Runs f on the line while the server does not touch it.
    template <class F>
    auto WithLine(F&& f) {
        std::lock_guard lock(mutex_);
        return f(line_);
    }

    // Receives one line of text per request and reply (hex, timestamps); called on the
    // server's thread. Set before Start.
    std::function<void(const std::string&)> log;

  private:
    void Serve();
    void HandleFrame(const std::vector<uint8_t>& frame);
    // Sleeps until the deadline unless Stop comes first; false when stopping.
    bool SleepUntil(SimTime deadline);
    bool SendPaced(const WireReply& reply, SimTime start);
    void Log(const char* direction, const uint8_t* bytes, size_t count, const std::string& note);

    ServerOptions options_;
    VirtualLine line_;
    std::mutex mutex_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    int master_ = -1;
    int slaveKeeper_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::string portPath_;
};

// A link in the virtual ports directory (the tool's VirtualPortDirectory) pointing at a port path;
// removed again on destruction (only while it still points there).
class PublishedPort {
  public:
    PublishedPort() = default;
    ~PublishedPort();
    PublishedPort(const PublishedPort&) = delete;
    PublishedPort& operator=(const PublishedPort&) = delete;

    // Creates the link `name` to target. A link left behind by a line that has ended (even
    // killed) is replaced. Returns an empty string on success, else the reason.
    std::string Publish(const std::string& name, const std::string& target);
    void Remove();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::string target_;
    int lock_ = -1;  // held while the link is this line's
};

// True for a name usable as a link name: 1..64 letters, digits, '-', '_' or '.', not
// starting with '.'.
bool ValidPortName(const std::string& name);

}  // namespace vsim
