// Start-up and memory of the tool: the time from the start of the process to the first paint
// of the main window, built with its dialogs exactly as the tool's main() builds them; the
// resident memory then; and polling-like reads through the window (its device read, one a
// timer tick) against the simulator on a fast line, with the memory and processor they take,
// once more with the exchange monitor and the trend open.
//
//   vek-bench-startup [--quick] [--runs N] [--reads N]
//
// Each start-up is a fresh process: this program starts itself again (fork and exec) with the
// time taken just before, so that the time counted includes loading the program and its
// libraries. The window runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
// Table rows (perf_table.h) go to standard output, progress to standard error.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/operator_message.h"
#include "line_server.h"
#include "perf_table.h"
#include "support/scripted_port.h"
#include "ui/Obr_vek.h"
#include "ui/tool_windows.h"
#include "ui/vek_application.h"
#include "virtual_device.h"

namespace {

constexpr int kReadBaud = 115200;
constexpr int kTurnaroundMs = 5;
constexpr double kFirstPaintGoalMs = 200;
constexpr double kRssGoalMb = 45;
constexpr double kRssGrowthGoalMb = 1;
constexpr double kProcessorGoalPercent = 0.1;

int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// What one started process reports back to the one that started it.
struct ChildReport {
    double mainMs = 0;   // process start to main()
    double paintMs = 0;  // process start to the main window's first paint
    long rssPaintKb = 0;
    int reads = 0;
    int failedReads = 0;
    long rssFirstReadKb = 0;  // after the first read and its paint
    long rssEndKb = 0;
    double readsWallS = 0;
    double readsThreadCpuS = 0;
    double readsProcessCpuS = 0;
    double readsInReadCpuS = 0;   // of the window thread's time, inside the reads themselves
    double readsInReadWallS = 0;  // of the wall time, inside the reads (no painting)
    double readLimitMs = 0;
    int pollingIntervalMs = 0;
    // The same reads on a second main window whose port is scripted (no line, no waits): the
    // window's own work.
    int scriptedReads = 0;
    double scriptedCpuS = 0;
    double scriptedInReadCpuS = 0;
};

// Reads through a main window whose port answers at once from a simulated device (its
// measurements change with its noise, as on the line), each followed by the painting it
// causes: the processor time of the window's own work per read.
void ScriptedWindowReads(ChildReport& report, int reads) {
    vsim::VirtualDevice device(1, vsim::kTypeVek02);
    FakeClock clock;
    auto backend = std::make_unique<ScriptedBackend>();
    ScriptedBackend* line = backend.get();
    line->clock = &clock;
    line->responder = [&](const Bytes& request) {
        auto answer = device.Answer(request, vsim::SimClock::now());
        return answer ? *answer : Bytes{};
    };
    TForm1 form(std::move(backend), clock);
    form.Link.PortName = "/dev/scripted";
    if (form.Link.OpenPort() != 0) return;
    form.show();
    QCoreApplication::processEvents();
    form.InPortClick();  // lays the window out
    QCoreApplication::processEvents();
    const double cpu0 = perf::ThreadCpuSeconds();
    for (int i = 0; i < reads; ++i) {
        const double before = perf::ThreadCpuSeconds();
        form.InPortClick();
        report.scriptedInReadCpuS += perf::ThreadCpuSeconds() - before;
        QCoreApplication::processEvents();
        line->writes.clear();
        line->calls.clear();
    }
    report.scriptedCpuS = perf::ThreadCpuSeconds() - cpu0;
    report.scriptedReads = reads;
}

// Catches the first paint event of the main window.
class FirstPaint : public QObject {
  public:
    explicit FirstPaint(std::function<void()> then) : then_(std::move(then)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            then_();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> then_;
    bool seen_ = false;
};

// The started process: the tool's start-up, then the reads.
// With `views`, the exchange monitor and the trend are open during the reads.
int Child(int argc, char** argv, int64_t startNs, int reads, int reportFd, bool views) {
    const int64_t mainNs = NowNs();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ChildReport report;
    report.mainMs = (mainNs - startNs) / 1e6;

    // As the tool's main() does.
    VekApplication app(argc, argv);
    QuitOnTerminationSignals(app);
    QGuiApplication::setDesktopFileName("io.github.vekserv.VekServ");
    // A read that fails shows a message: counted and answered, never shown. So is the
    // farewell of the window's close.
    bool reading = false;
    SetMessageResponder([&](const OperatorMessage& m) {
        if (reading) {
            ++report.failedReads;
            std::fprintf(stderr, "message: %s\n", m.text.c_str());
        }
        return m.defaultButton;
    });
    ToolWindows windows;
    TForm1& form1 = windows.form1;

    vsim::ServerOptions serverOptions;
    serverOptions.baud = kReadBaud;
    serverOptions.gapFloor = std::chrono::microseconds(1000);
    vsim::LineServer server(serverOptions);
    QTimer ticks;
    int done = 0;
    double cpu0 = 0, proc0 = 0;
    int64_t readsStartNs = 0;

    ticks.setInterval(0);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        if (done == 1) {
            // The first read has laid the window out and been painted: the reads start here.
            report.rssFirstReadKb = perf::RssKb();
            cpu0 = perf::ThreadCpuSeconds();
            proc0 = perf::ProcessCpuSeconds();
            readsStartNs = NowNs();
        }
        if (done == reads + 1) {
            report.readsWallS = (NowNs() - readsStartNs) / 1e9;
            report.readsThreadCpuS = perf::ThreadCpuSeconds() - cpu0;
            report.readsProcessCpuS = perf::ProcessCpuSeconds() - proc0;
            report.rssEndKb = perf::RssKb();
            report.reads = reads;
            ticks.stop();
            ScriptedWindowReads(report, std::min(reads, 200));
            reading = false;
            QApplication::quit();
            return;
        }
        const double before = perf::ThreadCpuSeconds();
        const int64_t beforeNs = NowNs();
        form1.InPortClick();
        if (done >= 1) {
            report.readsInReadCpuS += perf::ThreadCpuSeconds() - before;
            report.readsInReadWallS += (NowNs() - beforeNs) / 1e9;
        }
        ++done;
    });

    auto afterPaint = [&] {
        if (reads == 0) return QApplication::quit();
        server.WithLine([](vsim::VirtualLine& line) {
            line.SetTurnaroundMs(kTurnaroundMs);
            line.Add(1, vsim::kTypeVek02);
            line.Add(2, vsim::kTypeVek01);
            return 0;
        });
        server.Start();
        form1.Link.PortName = server.PortPath();
        form1.Link.BaudText = std::to_string(kReadBaud);
        if (form1.Link.OpenPort() != 0) {
            report.failedReads = reads;
            return QApplication::quit();
        }
        if (views) {
            form1.MonitorClick();
            form1.TrendClick();
        }
        reading = true;
        ticks.start();
    };

    FirstPaint firstPaint([&] {
        report.paintMs = (NowNs() - startNs) / 1e6;
        report.rssPaintKb = perf::RssKb();
        QTimer::singleShot(0, afterPaint);
    });
    form1.installEventFilter(&firstPaint);
    form1.show();
    QApplication::exec();
    form1.Link.ClosePort();
    server.Stop();

    // The limit of one read on this line: three answered transactions (17: 4 + 8, 68: 4 + 27,
    // 71: 6 + 15 characters), each with the send delay and the simulator's turnaround.
    report.readLimitMs = 3 * (form1.Link.GetSendDelay() + kTurnaroundMs) +
                         (12 + 31 + 21) * perf::CharacterMs(kReadBaud);
    report.pollingIntervalMs = form1.Timer1.interval();

    const std::string line =
        std::to_string(report.mainMs) + " " + std::to_string(report.paintMs) + " " +
        std::to_string(report.rssPaintKb) + " " + std::to_string(report.reads) + " " +
        std::to_string(report.failedReads) + " " + std::to_string(report.rssFirstReadKb) + " " +
        std::to_string(report.rssEndKb) + " " + std::to_string(report.readsWallS) + " " +
        std::to_string(report.readsThreadCpuS) + " " + std::to_string(report.readsProcessCpuS) +
        " " + std::to_string(report.readsInReadCpuS) + " " + std::to_string(report.readLimitMs) +
        " " + std::to_string(report.pollingIntervalMs) + " " +
        std::to_string(report.scriptedReads) + " " + std::to_string(report.scriptedCpuS) + " " +
        std::to_string(report.scriptedInReadCpuS) + " " + std::to_string(report.readsInReadWallS) +
        "\n";
    [[maybe_unused]] auto n = ::write(reportFd, line.data(), line.size());
    return 0;
}

// Starts this program again as a child with the time taken just before; false when the child
// did not report.
bool StartOnce(const char* self, int reads, ChildReport& report, bool views = false) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const int64_t startNs = NowNs();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::close(fds[0]);
        const std::string start = std::to_string(startNs);
        const std::string count = std::to_string(reads);
        const std::string fd = std::to_string(fds[1]);
        ::execl(self, self, "--child", start.c_str(), count.c_str(), fd.c_str(), views ? "1" : "0",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::sscanf(
               text.c_str(), "%lf %lf %ld %d %d %ld %ld %lf %lf %lf %lf %lf %d %d %lf %lf %lf",
               &report.mainMs, &report.paintMs, &report.rssPaintKb, &report.reads,
               &report.failedReads, &report.rssFirstReadKb, &report.rssEndKb, &report.readsWallS,
               &report.readsThreadCpuS, &report.readsProcessCpuS, &report.readsInReadCpuS,
               &report.readLimitMs, &report.pollingIntervalMs, &report.scriptedReads,
               &report.scriptedCpuS, &report.scriptedInReadCpuS, &report.readsInReadWallS) == 17;
}

std::string Mb(double kb) {
    return perf::Number(kb / 1024, 1) + " MB";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--child") == 0) {
        int childArgc = 1;
        return Child(childArgc, argv, std::strtoll(argv[2], nullptr, 10), std::atoi(argv[3]),
                     std::atoi(argv[4]), std::strcmp(argv[5], "1") == 0);
    }

    int runs = 5;
    int reads = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            runs = 1;
            reads = 100;
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--reads" && i + 1 < argc) {
            reads = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: vek-bench-startup [--quick] [--runs N] [--reads N]\n");
            return 2;
        }
    }
    if (runs < 1 || reads < 1) return 2;

    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    self[length] = '\0';

    std::vector<double> mainMs, paintMs, rssPaintMb;
    ChildReport withReads;
    for (int i = 0; i < runs; ++i) {
        // The last start-up also runs the reads.
        const bool last = i == runs - 1;
        ChildReport report;
        if (!StartOnce(self, last ? reads : 0, report)) {
            std::fprintf(stderr, "vek-bench-startup: start-up %d did not report\n", i + 1);
            return 1;
        }
        std::fprintf(stderr, "  start-up %d: main() at %.1f ms, first paint at %.1f ms, %ld kB\n",
                     i + 1, report.mainMs, report.paintMs, report.rssPaintKb);
        mainMs.push_back(report.mainMs);
        paintMs.push_back(report.paintMs);
        rssPaintMb.push_back(report.rssPaintKb / 1024.0);
        if (last) withReads = report;
    }
    // The same reads once more with the monitor and the trend open.
    ChildReport withViews;
    if (!StartOnce(self, reads, withViews, true)) {
        std::fprintf(stderr, "vek-bench-startup: the run with the monitor did not report\n");
        return 1;
    }

    const perf::Summary paint = perf::Summarize(paintMs);
    perf::Row("start-up: process start to first paint of the main window",
              perf::Figure(paint, 1, "ms"), "goal ≤ " + perf::Number(kFirstPaintGoalMs, 0) + " ms",
              perf::Ratio(paint.median / kFirstPaintGoalMs),
              perf::Verdict(true, paint.median <= kFirstPaintGoalMs));
    perf::Row("start-up: of which process start to main() (loading)",
              perf::Figure(perf::Summarize(mainMs), 1, "ms"), "-", "-", "");
    const perf::Summary rss = perf::Summarize(rssPaintMb);
    perf::Row("memory: VmRSS at first paint", perf::Figure(rss, 1, "MB"),
              "goal ≤ " + perf::Number(kRssGoalMb, 0) + " MB", perf::Ratio(rss.median / kRssGoalMb),
              perf::Verdict(true, rss.median <= kRssGoalMb));

    const ChildReport& r = withReads;
    const std::string n = std::to_string(r.reads);
    const double endMb = r.rssEndKb / 1024.0;
    perf::Row("memory: VmRSS after " + n + " polling reads", Mb(static_cast<double>(r.rssEndKb)),
              "goal ≤ " + perf::Number(kRssGoalMb, 0) + " MB", perf::Ratio(endMb / kRssGoalMb),
              perf::Verdict(true, endMb <= kRssGoalMb));
    const double growthMb = (r.rssEndKb - r.rssFirstReadKb) / 1024.0;
    perf::Row("memory: VmRSS growth over " + n + " reads (after the first)",
              perf::Number(growthMb * 1024, 0) + " kB",
              "goal < " + perf::Number(kRssGrowthGoalMb, 0) + " MB",
              perf::Ratio(growthMb / kRssGrowthGoalMb),
              perf::Verdict(true, growthMb < kRssGrowthGoalMb));
    // Held against the line: the read itself; the painting it causes comes after it.
    auto readRow = [&](const ChildReport& c, const std::string& what) {
        const double perReadMs = c.reads ? c.readsWallS * 1000 / c.reads : 0;
        const double inReadMs = c.reads ? c.readsInReadWallS * 1000 / c.reads : 0;
        perf::Row("window " + std::to_string(kReadBaud) + ": polling read (InPortClick), " + what +
                      "mean of " + std::to_string(c.reads),
                  perf::Number(inReadMs, 2) + " ms, " + perf::Number(perReadMs, 2) +
                      " ms with the painting after it",
                  perf::Number(c.readLimitMs, 1) + " ms", perf::Ratio(inReadMs / c.readLimitMs),
                  c.failedReads ? std::to_string(c.failedReads) + " reads FAILED" : "");
    };
    readRow(r, "");
    readRow(withViews, "monitor and trend open, ");
    perf::Row("memory: VmRSS after " + std::to_string(withViews.reads) +
                  " polling reads, monitor and trend open",
              Mb(static_cast<double>(withViews.rssEndKb)),
              "goal ≤ " + perf::Number(kRssGoalMb, 0) + " MB",
              perf::Ratio(withViews.rssEndKb / 1024.0 / kRssGoalMb),
              perf::Verdict(true, withViews.rssEndKb / 1024.0 <= kRssGoalMb));
    const double threadPct = 100 * r.readsThreadCpuS / r.readsWallS;
    const double processPct = 100 * r.readsProcessCpuS / r.readsWallS;
    const double cpuPerReadMs = r.reads ? 1000 * r.readsThreadCpuS / r.reads : 0;
    const double inReadMs = r.reads ? 1000 * r.readsInReadCpuS / r.reads : 0;
    const std::string goal = "goal ≤ " + perf::Number(kProcessorGoalPercent, 1) + " %";
    perf::Row("window " + std::to_string(kReadBaud) + ": processor, polling reads back to back",
              perf::Number(threadPct, 3) + " % of " + perf::Number(r.readsWallS, 1) + " s, " +
                  perf::Number(cpuPerReadMs, 2) + " ms a read, " + perf::Number(inReadMs, 2) +
                  " ms of it in the read itself (window thread; process with simulator " +
                  perf::Number(processPct, 3) + " %)",
              goal, perf::Ratio(threadPct / kProcessorGoalPercent),
              perf::Verdict(true, threadPct <= kProcessorGoalPercent));
    if (r.scriptedReads > 0) {
        const double perRead = 1000 * r.scriptedCpuS / r.scriptedReads;
        const double inRead = 1000 * r.scriptedInReadCpuS / r.scriptedReads;
        perf::Row("window, scripted port (no line): processor a read, mean of " +
                      std::to_string(r.scriptedReads),
                  perf::Number(perRead, 2) + " ms, " + perf::Number(inRead, 2) +
                      " ms of it in the read (link and controls), the rest layout and painting",
                  "-", "-", "");
    }
    // The tool polls once a timer interval; between ticks its thread sleeps in the event loop.
    const double tickPct = 100 * cpuPerReadMs / r.pollingIntervalMs;
    perf::Row("window " + std::to_string(kReadBaud) + ": processor, one read a polling tick (" +
                  std::to_string(r.pollingIntervalMs) + " ms), computed",
              perf::Number(tickPct, 3) + " %", goal, perf::Ratio(tickPct / kProcessorGoalPercent),
              perf::Verdict(true, tickPct <= kProcessorGoalPercent));
    return 0;
}
