// Soak run of the device read: the main window reads the simulated transducers over a real
// pseudo-terminal thousands of times, with a fault injected now and then on the device being
// read, and reports what the reads ended with, whether a failed read ever left a block that a
// write could send, and whether resident memory grows.
//
//   vek-soak [--reads N] [--seed S] [--fault-rate R] [--baud B]
//
// Message boxes are answered through the operator-message seam with their default button;
// the window runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
// VEK_SOAK_VERBOSE=1 prints every injected fault and how its read ended.
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "common/operator_message.h"
#include "line_server.h"
#include "support/short_wait_clock.h"
#include "ui/Obr_vek.h"
#include "ui_Obr_vek.h"

namespace {

struct Options {
    long reads = 10000;
    uint64_t seed = 1;
    double faultRate = 0.01;
    int baud = 115200;
};

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (arg == "--reads") {
            o.reads = std::strtol(value, nullptr, 10);
        } else if (arg == "--seed") {
            o.seed = std::strtoull(value, nullptr, 10);
        } else if (arg == "--fault-rate") {
            o.faultRate = std::strtod(value, nullptr);
        } else if (arg == "--baud") {
            o.baud = static_cast<int>(std::strtol(value, nullptr, 10));
        } else {
            return false;
        }
    }
    return o.reads > 0 && o.faultRate >= 0 && o.faultRate <= 1;
}

long RssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

enum FaultKind {
    kSilent,
    kDropEvery,
    kShortHeader,
    kShortBody,
    kBadCrc,
    kForeignFunction,
    kException,
    kSplitReply,
    kLongBlock,
    kLateReply,
    kFaultKinds
};

const char* const kFaultNames[kFaultKinds] = {
    "silent",         "drop every 2nd reply", "short reply (header)", "short reply (body)",
    "bad checksum",   "foreign function",     "device exception",     "split reply with gap",
    "oversize block", "late reply",
};

// A uniform pick in [low, high]. The picks here do not use the library's distributions, so a
// seed gives the same faults with every standard library.
int Pick(std::mt19937_64& rng, int low, int high) {
    return low + static_cast<int>(rng() % static_cast<uint64_t>(high - low + 1));
}

// Sets one fault on a device; the late reply is the line's turnaround, which only the device
// being read sees. Returns a short account of the fault.
std::string Inject(FaultKind kind, std::mt19937_64& rng, vsim::VirtualLine& line,
                   vsim::VirtualDevice& d) {
    vsim::DeviceFaults& f = d.faults;
    switch (kind) {
        case kSilent:
            f.silent = true;
            return "silent";
        case kDropEvery:
            f.dropEvery = 2;
            return "drop 2";
        case kShortHeader:
            f.shortLength = Pick(rng, 1, 2);
            return "short " + std::to_string(f.shortLength);
        case kShortBody:
            // 3 is the header alone; the identification reply is 8 bytes long.
            f.shortLength = Pick(rng, 3, 7);
            return "short " + std::to_string(f.shortLength);
        case kBadCrc:
            f.badCrc = true;
            return "crc";
        case kForeignFunction:
            f.foreignFunction = Pick(rng, 0, 1) ? 256 : Pick(rng, 0, 255);
            return "foreign " + std::to_string(f.foreignFunction);
        case kException:
            f.exceptionCode = Pick(rng, 0, 3) == 0 ? 6 : Pick(rng, 1, 255);
            return "exception " + std::to_string(f.exceptionCode);
        case kSplitReply:
            f.splitGapMs = Pick(rng, 0, 1) ? 50 : Pick(rng, 120, 400);
            f.splitAt = Pick(rng, 0, 4);
            return "split " + std::to_string(f.splitGapMs) + " " + std::to_string(f.splitAt);
        case kLongBlock:
            f.longBlock = Pick(rng, 31, 255);
            return "longblock " + std::to_string(f.longBlock);
        case kLateReply:
            line.SetTurnaroundMs(Pick(rng, 1400, 3000));
            return "turnaround " + std::to_string(line.TurnaroundMs());
        case kFaultKinds:
            break;
    }
    return {};
}

constexpr int kTurnaroundMs = 1;

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArgs(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vek-soak [--reads N] [--seed S] [--fault-rate 0..1] [--baud B]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Every message is counted by its text and answered with its default button.
    std::map<std::string, long> messages;
    long messageCount = 0;
    std::string lastMessage;
    SetMessageResponder([&](const OperatorMessage& m) {
        ++messages[m.text];
        ++messageCount;
        lastMessage = m.text;
        return m.defaultButton;
    });

    vsim::ServerOptions serverOptions;
    serverOptions.baud = options.baud;
    serverOptions.gapFloor = std::chrono::microseconds(1000);
    vsim::LineServer server(serverOptions);
    server.WithLine([](vsim::VirtualLine& line) {
        line.SetTurnaroundMs(kTurnaroundMs);
        line.Add(1, vsim::kTypeVek02);
        line.Add(2, vsim::kTypeVek01);
    });
    server.Start();

    ShortWaitClock clock;
    TForm1 form1(nullptr, clock);

    // The text of every result code the link reports, for the devices of the run, so that a
    // message tells the code of the failure. Made before the port opens (one of the codes
    // closes it) and without the window's close request (another asks for it).
    std::map<std::string, int32_t> codeOfText;
    form1.Link.PortName = server.PortPath();
    const auto closeRequest = std::exchange(form1.Link.OnCloseRequest, nullptr);
    for (int32_t code = lrPortFailed; code >= 1; --code) {
        for (int32_t device : {0, 1}) {
            form1.Link.ReportError(device, code);
            codeOfText[lastMessage] = code;
        }
    }
    form1.Link.OnCloseRequest = closeRequest;
    messages.clear();
    messageCount = 0;

    form1.Link.BaudText = std::to_string(options.baud);
    if (form1.Link.OpenPort() != 0) {
        std::fprintf(stderr, "cannot open %s\n", server.PortPath().c_str());
        return 1;
    }
    form1.show();

    std::mt19937_64 rng(options.seed);
    long succeeded = 0;
    long writableAfterFailure = 0;
    long notWritableAfterSuccess = 0;
    long failedWithoutFault = 0;
    long failedWithoutMessage = 0;
    std::map<int32_t, long> failures;           // result code -> reads
    std::map<std::string, long> otherMessages;  // messages that carry no result code
    long injected[kFaultKinds] = {};
    long failedUnderFault[kFaultKinds] = {};
    long rssFirst = -1;
    int device = 0;
    std::string portLost;

    // The reads run from the event loop, one a timer tick as polling runs them, so that what
    // the window posts meanwhile (deferred deletions too) is handled as in the tool.
    long i = 0;
    QTimer ticks;
    ticks.setInterval(0);
    const auto started = std::chrono::steady_clock::now();
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        // After the first read, once the event loop has handled what it posted (the paint).
        if (i == 1) rssFirst = RssKb();
        // Fifty reads of one device, then fifty of the other, as an operator polls one at a time.
        const int wanted = static_cast<int>((i / 50) % 2) + 1;
        if (wanted != device) {
            device = wanted;
            form1.ui->CBoxUstr->setCurrentIndex(device - 1);
            form1.CBoxUstrClick(device - 1);
        }

        int kind = -1;
        std::string account;
        if (static_cast<double>(rng() >> 11) * 0x1.0p-53 < options.faultRate) {
            kind = Pick(rng, 0, kFaultKinds - 1);
            ++injected[kind];
            server.WithLine([&](vsim::VirtualLine& line) {
                account = Inject(static_cast<FaultKind>(kind), rng, line, *line.Find(device));
                return 0;
            });
        }

        const long messagesBefore = messageCount;
        form1.InPortClick();
        const bool ok = form1.Record.DataRead == 1;
        const bool writable = form1.Record.HoldsWritableBlock();

        if (kind >= 0) {
            server.WithLine([&](vsim::VirtualLine& line) {
                line.Find(device)->faults = vsim::DeviceFaults{};
                line.SetTurnaroundMs(kTurnaroundMs);
                return 0;
            });
        }

        if (ok) {
            ++succeeded;
            if (!writable) ++notWritableAfterSuccess;
        } else {
            if (writable) ++writableAfterFailure;
            if (kind >= 0) ++failedUnderFault[kind];
            if (kind < 0) {
                ++failedWithoutFault;
                std::fprintf(stderr, "read %ld (device %d) failed with no fault: %s\n", i + 1,
                             device, messageCount > messagesBefore ? lastMessage.c_str() : "-");
            }
            if (messageCount == messagesBefore) {
                ++failedWithoutMessage;
            } else {
                auto code = codeOfText.find(lastMessage);
                if (code != codeOfText.end()) {
                    ++failures[code->second];
                } else {
                    ++otherMessages[lastMessage];
                }
            }
        }
        if (kind >= 0 && std::getenv("VEK_SOAK_VERBOSE")) {
            std::fprintf(stderr, "read %ld device %d fault %s: %s\n", i + 1, device,
                         account.c_str(), ok ? "ok" : lastMessage.c_str());
        }

        if (!form1.ComPort1.Connected()) {
            portLost = "the port closed after read " + std::to_string(i + 1);
            options.reads = i + 1;
            ticks.stop();
            QApplication::exit(0);
            return;
        }
        if ((i + 1) % 1000 == 0) {
            const auto s = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::steady_clock::now() - started)
                               .count();
            std::fprintf(stderr, "%ld reads, %lld s, VmRSS %ld kB\n", i + 1,
                         static_cast<long long>(s), RssKb());
        }
        if (++i == options.reads) {
            ticks.stop();
            QApplication::exit(0);
        }
    });
    ticks.start();
    QApplication::exec();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long rssLast = RssKb();
    if (rssFirst < 0) rssFirst = rssLast;
    form1.Link.ClosePort();
    server.Stop();

    long faults = 0;
    for (long n : injected)
        faults += n;
    std::printf("Soak run: %ld reads, seed %llu, fault rate %g, %d bit/s\n", options.reads,
                static_cast<unsigned long long>(options.seed), options.faultRate, options.baud);
    std::printf("%-58s %10s\n", "", "count");
    std::printf("%-58s %10ld\n", "reads", options.reads);
    std::printf("%-58s %10ld\n", "reads succeeded", succeeded);
    std::printf("%-58s %10ld\n", "reads failed", options.reads - succeeded);
    for (auto [code, n] : failures) {
        char label[32];
        std::snprintf(label, sizeof label, "  failed, code %d (0x%02X)", code,
                      static_cast<unsigned>(code));
        std::printf("%-58s %10ld\n", label, n);
    }
    for (const auto& [text, n] : otherMessages)
        std::printf("  failed, message \"%s\" %10ld\n", text.c_str(), n);
    if (failedWithoutMessage)
        std::printf("%-58s %10ld\n", "  failed, no message", failedWithoutMessage);
    std::printf("%-58s %10ld\n", "failed reads with no fault injected", failedWithoutFault);
    std::printf("%-58s %10ld\n", "failed reads leaving a writable block", writableAfterFailure);
    std::printf("%-58s %10ld\n", "succeeded reads leaving no writable block",
                notWritableAfterSuccess);
    std::printf("%-58s %10ld\n", "faults injected", faults);
    for (int k = 0; k < kFaultKinds; ++k) {
        char label[80];
        std::snprintf(label, sizeof label, "  %s (failed reads)", kFaultNames[k]);
        std::printf("%-58s %4ld (%3ld)\n", label, injected[k], failedUnderFault[k]);
    }
    std::printf("%-58s %10ld\n", "messages shown", messageCount);
    std::printf("%-58s %10ld\n", "VmRSS after the first read, kB", rssFirst);
    std::printf("%-58s %10ld\n", "VmRSS at the end, kB", rssLast);
    std::printf("%-58s %+10ld\n", "VmRSS difference, kB", rssLast - rssFirst);
    std::printf("%-58s %10.1f\n", "elapsed, s", elapsed);
    std::printf("%-58s %10.1f\n", "per read, ms",
                elapsed * 1000.0 / static_cast<double>(options.reads));
    if (!portLost.empty()) std::printf("stopped early: %s\n", portLost.c_str());
    std::printf("\nMessages by text:\n");
    for (const auto& [text, n] : messages)
        std::printf("%8ld  %s\n", n, text.c_str());
    return 0;
}
