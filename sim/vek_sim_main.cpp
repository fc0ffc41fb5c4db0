// vek-sim: serves a simulated line of transducers on a pseudo-terminal, published as a
// virtual port, and takes operator commands on standard input.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "line_server.h"
#include "sim_control.h"

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

std::mutex outputMutex;

void Print(std::FILE* stream, const std::string& text) {
    std::lock_guard lock(outputMutex);
    std::fputs(text.c_str(), stream);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stream);
    std::fflush(stream);
}

// Collects standard input into command lines; one command per line.
class CommandReader {
  public:
    // Appends what is there; false at the end of input.
    bool Fill() {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return false;
        if (n > 0) pending_.append(buffer, static_cast<size_t>(n));
        return true;
    }
    // The next complete line, if any. An over-long line is reported once and skipped up to
    // its end rather than kept.
    bool Next(std::string& line, bool& tooLong) {
        tooLong = false;
        for (;;) {
            const auto end = pending_.find('\n');
            if (discarding_) {
                if (end == std::string::npos) {
                    pending_.clear();
                    return false;
                }
                pending_.erase(0, end + 1);
                discarding_ = false;
                continue;
            }
            if (end == std::string::npos) {
                if (pending_.size() <= kMaxLine) return false;
                pending_.clear();
                discarding_ = true;
                tooLong = true;
                return true;
            }
            if (end > kMaxLine) {
                pending_.erase(0, end + 1);
                tooLong = true;
                return true;
            }
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
    }

  private:
    static constexpr size_t kMaxLine = 1024;
    std::string pending_;
    bool discarding_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = vsim::ParseOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "vek-sim: %s\n", error.c_str());
        return 2;
    }
    if (options->version) {
        std::printf("vek-sim %s\n", VEK_VERSION);
        return 0;
    }
    if (options->help) {
        std::fputs(vsim::UsageText().c_str(), stdout);
        return 0;
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("vek-sim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    vsim::LineServer server({options->baud});
    error =
        server.WithLine([&](vsim::VirtualLine& line) { return vsim::BuildLine(*options, line); });
    if (!error.empty()) {
        std::fprintf(stderr, "vek-sim: %s\n", error.c_str());
        return 2;
    }
    if (options->verbose) server.log = [](const std::string& text) { Print(stderr, text); };
    try {
        server.Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vek-sim: cannot open a pseudo-terminal: %s\n", e.what());
        return 1;
    }

    vsim::PublishedPort published;
    if (!options->name.empty()) {
        error = published.Publish(options->name, server.PortPath());
    } else {
        for (int n = 0; n < 100; ++n) {
            error = published.Publish("ttyVEK" + std::to_string(n), server.PortPath());
            if (error.empty() || error.find("in use") == std::string::npos) break;
        }
    }
    if (!error.empty()) {
        std::fprintf(stderr, "vek-sim: cannot publish the port: %s\n", error.c_str());
        return 1;
    }
    if (options->verbose) {
        Print(stderr, server.WithLine([](vsim::VirtualLine& line) {
            return vsim::RunCommand("list", line).text;
        }));
        Print(stderr,
              "serving " + server.PortPath() + " at " + std::to_string(options->baud) + " bit/s");
    }
    Print(stdout, "ready " + published.Path());

    // Standard input stays blocking (it may be the operator's terminal, shared with the
    // shell): it is read once each time poll reports it readable.
    CommandReader reader;
    bool inputOpen = true;
    bool quit = false;
    while (!quit) {
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) break;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            // At the end of input the line goes on serving until a signal comes.
            inputOpen = reader.Fill();
            std::string command;
            bool tooLong = false;
            while (!quit && reader.Next(command, tooLong)) {
                if (tooLong) {
                    Print(stdout, "error: command line too long, ignored");
                    continue;
                }
                auto result = server.WithLine(
                    [&](vsim::VirtualLine& line) { return vsim::RunCommand(command, line); });
                if (!result.text.empty()) Print(stdout, result.text);
                quit = result.quit;
            }
        }
    }
    server.Stop();
    published.Remove();
    return 0;
}
