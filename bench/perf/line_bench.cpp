// Exchanges on a line: the link (TComPortClass on the POSIX serial port) against the simulator
// serving a pseudo-terminal in this process, at 9600 and at 115200 bit/s, each operation timed
// several times and set against the time that the line speed and the link's delays allow:
//
//   answered transaction   send delay + (request + reply characters) × 11 bits / speed
//                          + the simulator's turnaround
//   request without reply  send delay + request characters
//   silent address         per attempt: send delay + request characters + the header read's
//                          time-out + the pause after a failed attempt
//   write                  + the 2000 ms wait of the device storing the block
//
// The pseudo-terminal delivers a request at once: a request that draws no reply costs no line
// time here, so a silent scan or a write can come in just under its limit. For an answered
// request the simulator waits instead for the silence that ends a frame (3.5 characters, here
// at least 1 ms) before its turnaround of 5 ms, and sends its reply paced at the line speed.
// Function 17 is also timed through libmodbus on the same line, as a yardstick for the link's
// own overhead. A device read is also timed through vek-cli as a script runs it, from the
// start of its process to its end, and vek-cli's start-up alone (--version).
//
//   vek-bench-line [--quick]
//
// Table rows (perf_table.h) go to standard output, progress to standard error.
#include <fcntl.h>
#include <modbus/modbus.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/operator_message.h"
#include "device/Obrnastr.h"
#include "device/device_exchanges.h"
#include "device/line_search.h"
#include "line_server.h"
#include "link/Comportclass.h"
#include "link/Cport.h"
#include "perf_table.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTurnaroundMs = 5;  // the simulator's default
constexpr double kWireGoal = 1.03;
constexpr double kProcessorGoalPercent = 0.1;
// The link is no slower than libmodbus when its median is within the runs' noise of
// libmodbus's: 1 %.
constexpr double kModbusTolerance = 1.01;
constexpr int kGoalBaud = 9600;
// A read through vek-cli, process start included, at the faster speed.
constexpr double kCliWireGoal = 1.05;
constexpr int kCliGoalBaud = 115200;
// The fast search of 32 addresses with 4 devices at 9600 bit/s.
constexpr double kFastSearchGoalMs = 4500;
constexpr double kCliStartGoalMs = 20;

extern "C" char** environ;

// Runs a program with its output thrown away; its exit status, or -1.
int RunProgram(std::vector<std::string> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Options {
    bool quick = false;
};

// One measured operation at one speed: the times of its runs, the limit of one run, and how
// many runs went wrong.
struct Measured {
    explicit Measured(std::string name) : measure(std::move(name)) {}
    std::string measure;
    std::vector<double> ms;
    double limitMs = 0;
    int failures = 0;
    bool comparison = false;  // a yardstick, not an operation of the tool: no goal
    double goal = kWireGoal;  // the ratio to the limit aimed at, at goalBaud
    int goalBaud = kGoalBaud;
};

// Processor time of a stretch of waiting on the line, summed over its runs.
struct ProcessorShare {
    explicit ProcessorShare(std::string name) : measure(std::move(name)) {}
    std::string measure;
    double wallS = 0;
    double threadS = 0;
    double processS = 0;
    int operations = 0;  // reads in the stretch, for the time per read
};

struct SpeedResults {
    int baud = 0;
    std::vector<Measured> measured;
    std::vector<ProcessorShare> processor;
    // Function 17 without send delay, through the link and through libmodbus (medians).
    double toolNoDelayMs = 0;
    double modbusMs = 0;
    // The longest scan, specified and fast (medians).
    double specifiedScanMs = 0;
    double fastScanMs = 0;
};

// The bus: ВЭК-02МЕ at 1, ВЭК-01МЕ at 2, a КСВЛ at 12, a ВЭК-02МЕ at 32; the others silent.
void BuildLine(vsim::VirtualLine& line) {
    line.SetTurnaroundMs(kTurnaroundMs);
    for (auto [address, type] : {std::pair{1, vsim::kTypeVek02},
                                 {2, vsim::kTypeVek01},
                                 {12, vsim::kTypeKsvl},
                                 {32, vsim::kTypeVek02}}) {
        line.Add(address, type)->SetNoise(0);
    }
}

class LineBench {
  public:
    LineBench(int baud, const Options& options)
        : options_(options), server_(ServerOptionsFor(baud)), link_(port_), baud_(baud) {
        server_.WithLine([](vsim::VirtualLine& line) {
            BuildLine(line);
            return 0;
        });
        server_.Start();
        // libmodbus opens the line first: once the link's port has it, the port is exclusive.
        // Both then share the line, one exchange at a time.
        modbus_ = modbus_new_rtu(server_.PortPath().c_str(), baud, 'N', 8, 2);
        if (!modbus_ || modbus_set_slave(modbus_, 1) != 0 || modbus_connect(modbus_) != 0) {
            throw std::runtime_error(std::string("libmodbus: ") + modbus_strerror(errno));
        }
        ApplyComPort1Design(port_);
        link_.PortName = server_.PortPath();
        link_.BaudText = std::to_string(baud);
        if (link_.OpenPort() != 0) throw std::runtime_error("cannot open " + server_.PortPath());
        results_.baud = baud;
    }
    ~LineBench() {
        link_.ClosePort();
        if (modbus_) {
            modbus_close(modbus_);
            modbus_free(modbus_);
        }
    }
    LineBench(const LineBench&) = delete;
    LineBench& operator=(const LineBench&) = delete;

    SpeedResults Run() {
        const int runs = options_.quick ? 1 : 20;
        const int readRuns = options_.quick ? 1 : 10;
        const int writeRuns = options_.quick ? 1 : 3;

        TimeIdentification("function 17 (identification)", runs);
        {
            const double cpu0 = perf::ThreadCpuSeconds();
            const double proc0 = perf::ProcessCpuSeconds();
            const auto t0 = Clock::now();
            TimeRead("device read, type 106 (17, 68, 71)", 0, readRuns);
            TimeRead("device read, type 105 (17, 68, 71)", 1, readRuns);
            ProcessorShare share("processor, device reads back to back");
            share.wallS = MsSince(t0) / 1000;
            share.threadS = perf::ThreadCpuSeconds() - cpu0;
            share.processS = perf::ProcessCpuSeconds() - proc0;
            share.operations = 2 * readRuns;
            results_.processor.push_back(share);
        }
        TimeCliRead(readRuns);
        TimeWrite("write (17, 69, 2000 ms wait, 14, read)", writeRuns);

        struct Scan {
            int addresses;
            int runs;
        };
        std::vector<Scan> scans;
        if (options_.quick) {
            scans = {{1, 1}, {3, 1}};
        } else {
            scans = {{1, 10}, {8, 3}, {32, 1}};
        }
        longestScan_ = scans.back().addresses;
        for (const Scan& scan : scans)
            TimeScan(scan.addresses, scan.runs);
        TimeScan(longestScan_, options_.quick ? 1 : 3, true);
        // What a device slower than the first-byte wait costs: the confirming pass.
        TimeScan(longestScan_, 1, true, 200);

        // The comparison is of two close figures: many short runs.
        CompareWithModbus(options_.quick ? 1 : 200);
        return results_;
    }

  private:
    static vsim::ServerOptions ServerOptionsFor(int baud) {
        vsim::ServerOptions o;
        o.baud = baud;
        o.gapFloor = std::chrono::microseconds(1000);
        return o;
    }

    double CharMs() const { return perf::CharacterMs(baud_); }
    // The limit of the transaction that has just succeeded.
    double AnsweredMs() const {
        return link_.GetSendDelay() +
               (link_.GetRequestLength() + link_.GetReplyLength()) * CharMs() + kTurnaroundMs;
    }
    double UnansweredMs() const {
        return link_.GetSendDelay() + link_.GetRequestLength() * CharMs();
    }
    double SilentAttemptMs() const {
        const TComTimeouts& t = port_.Timeouts();
        const double headerTimeout = t.ReadTotalMultiplier * 3.0 + t.ReadTotalConstant;
        return UnansweredMs() + headerTimeout + link_.RetryPauseMs;
    }

    void Progress(const Measured& m) const {
        const perf::Summary s = perf::Summarize(m.ms);
        std::fprintf(stderr, "  %6d bit/s  %-45s median %9.2f ms  limit %9.2f ms%s\n", baud_,
                     m.measure.c_str(), s.median, m.limitMs, m.failures ? "  (runs failed)" : "");
    }

    Measured& Keep(Measured m) {
        Progress(m);
        results_.measured.push_back(std::move(m));
        return results_.measured.back();
    }

    Measured& TimeIdentification(const std::string& measure, int runs) {
        Measured m(measure);
        for (int i = 0; i < runs; ++i) {
            const auto t0 = Clock::now();
            const int32_t result = Identify(link_, 0).result;
            m.ms.push_back(MsSince(t0));
            if (result != lrOk) ++m.failures;
            m.limitMs = AnsweredMs();
        }
        return Keep(std::move(m));
    }

    // The device read as the tool makes it (three transactions); the device number goes on
    // from the block. Adds the limit of each transaction.
    bool Read(int32_t deviceNumber, double& limitMs) {
        record_.DeviceNumber = deviceNumber;
        if (!ReadDevice(link_, record_).Completed()) return false;
        limitMs += 3 * AnsweredMs();
        record_.DataRead = 1;  // accepted, as the window accepts a served model
        return true;
    }

    void TimeRead(const std::string& measure, int32_t deviceNumber, int runs) {
        Measured m(measure);
        for (int i = 0; i < runs; ++i) {
            double limit = 0;
            const auto t0 = Clock::now();
            const bool ok = Read(deviceNumber, limit);
            m.ms.push_back(MsSince(t0));
            if (!ok) ++m.failures;
            m.limitMs = limit;
        }
        readLimitMs_ = m.limitMs;
        Keep(std::move(m));
    }

    // The read of device 1 by vek-cli: its process started, the port opened, the three
    // transactions, the JSON printed, the process ended. The link lets go of the port meanwhile.
    void TimeCliRead(int runs) {
        Measured m("vek-cli --json read 1, process start to end");
        m.goal = kCliWireGoal;
        m.goalBaud = kCliGoalBaud;
        m.limitMs = readLimitMs_;
        link_.ClosePort();
        for (int i = 0; i < runs; ++i) {
            const auto t0 = Clock::now();
            const int status = RunProgram({VEK_CLI_PATH, "--port", server_.PortPath(), "--baud",
                                           std::to_string(baud_), "--json", "read", "1"});
            m.ms.push_back(MsSince(t0));
            if (status != 0) ++m.failures;
        }
        if (link_.OpenPort() != 0) throw std::runtime_error("cannot open " + server_.PortPath());
        Keep(std::move(m));
    }

    // The write as the tool makes it: identification, the block, the device's storing time,
    // the confirmation, and the read that shows the result.
    bool Write(double& limitMs) {
        if (!WriteBlock(link_, record_).Confirmed()) return false;
        limitMs += AnsweredMs() + UnansweredMs() + kStoreWaitMs + AnsweredMs();
        return Read(record_.DeviceNumber, limitMs);
    }

    void TimeWrite(const std::string& measure, int runs) {
        Measured m(measure);
        double unused = 0;
        if (!Read(0, unused)) ++m.failures;  // the block to write back
        for (int i = 0; i < runs; ++i) {
            double limit = 0;
            const auto t0 = Clock::now();
            const bool ok = Write(limit);
            m.ms.push_back(MsSince(t0));
            if (!ok) ++m.failures;
            m.limitMs = limit;
        }
        Keep(std::move(m));
    }

    // The device list's search of addresses 1..n as specified (two header attempts, an address
    // that does not answer left out), or the fast search with its first-byte wait for the
    // line speed; the device list runs LineSearch one step at a time, as here.
    void TimeScan(int addresses, int runs, bool fast = false, int turnaroundMs = kTurnaroundMs) {
        int answering = 0;
        server_.WithLine([&](vsim::VirtualLine& line) {
            line.SetTurnaroundMs(turnaroundMs);
            for (int a = 1; a <= addresses; ++a)
                answering += line.Find(a) != nullptr;
            return 0;
        });
        std::string name = std::string(fast ? "fast search" : "device list scan") + ", " +
                           std::to_string(addresses) + " address" + (addresses > 1 ? "es" : "") +
                           " (" + std::to_string(answering) + " answering";
        if (turnaroundMs != kTurnaroundMs) {
            name += ", each after " + std::to_string(turnaroundMs) + " ms";
        }
        Measured m(name + ")");
        ProcessorShare share("processor, scan of " + std::to_string(addresses) + " (" +
                             std::to_string(addresses - answering) + " silent)");
        for (int i = 0; i < runs; ++i) {
            const double cpu0 = perf::ThreadCpuSeconds();
            const double proc0 = perf::ProcessCpuSeconds();
            const auto t0 = Clock::now();
            LineSearch search(link_, addresses, fast ? FirstByteWaitFor(baud_) : 0);
            while (!search.Done())
                search.Step();
            const double ms = MsSince(t0);
            m.ms.push_back(ms);
            share.wallS += ms / 1000;
            share.threadS += perf::ThreadCpuSeconds() - cpu0;
            share.processS += perf::ProcessCpuSeconds() - proc0;
            if (static_cast<int>(search.Found().size()) != answering) ++m.failures;
        }
        const double median = perf::Summarize(m.ms).median;
        if (fast && turnaroundMs != kTurnaroundMs) {
            m.limitMs = results_.fastScanMs;  // against the same search with prompt devices
            m.comparison = true;
        } else if (fast) {
            m.limitMs = kFastSearchGoalMs;
            m.goal = 1.0;
            results_.fastScanMs = median;
        } else {
            // Identification of an answering address, two silent attempts for the others.
            Identify(link_, 0);
            m.limitMs = answering * AnsweredMs() +
                        (addresses - answering) * kSearchStage1Attempts * SilentAttemptMs();
            if (addresses == longestScan_) results_.specifiedScanMs = median;
        }
        server_.WithLine([](vsim::VirtualLine& line) {
            line.SetTurnaroundMs(kTurnaroundMs);
            return 0;
        });
        Keep(std::move(m));
        // The processor while waiting: the longest specified scan with silent addresses.
        if (!fast && answering < addresses && addresses == longestScan_) {
            results_.processor.push_back(share);
        }
    }

    // Function 17 through the link without its send delay and through libmodbus (report
    // server id), on the same line at the same speed, taking turns so that both meet the same
    // load of the machine.
    void CompareWithModbus(int runs) {
        Measured tool("function 17, send delay 0");
        Measured modbus("function 17 through libmodbus (no send delay)");
        const int32_t sendDelay = link_.GetSendDelay();
        link_.SetSendDelay(0);
        uint8_t dest[MODBUS_MAX_PDU_LENGTH];
        int count = 0;
        for (int i = 0; i < runs; ++i) {
            auto t0 = Clock::now();
            const int32_t result = Identify(link_, 0).result;
            tool.ms.push_back(MsSince(t0));
            if (result != lrOk) ++tool.failures;
            tool.limitMs = AnsweredMs();

            t0 = Clock::now();
            count = modbus_report_slave_id(modbus_, sizeof dest, dest);
            modbus.ms.push_back(MsSince(t0));
            if (count <= 0) ++modbus.failures;
        }
        link_.SetSendDelay(sendDelay);
        // Request: address, 17, CRC; reply: address, 17, byte count, data, CRC.
        modbus.limitMs = (4 + 5 + std::max(count, 0)) * CharMs() + kTurnaroundMs;
        results_.toolNoDelayMs = perf::Summarize(tool.ms).median;
        results_.modbusMs = perf::Summarize(modbus.ms).median;
        Keep(std::move(tool)).comparison = true;
        Keep(std::move(modbus)).comparison = true;
    }

    Options options_;
    vsim::LineServer server_;
    modbus_t* modbus_ = nullptr;
    TComPort port_;
    TComPortClass link_;
    TProgVEKClass record_;
    int baud_;
    int longestScan_ = 0;
    double readLimitMs_ = 0;
    SpeedResults results_;
};

void PrintRows(const std::vector<SpeedResults>& speeds) {
    if (speeds.empty()) return;
    const size_t n = speeds.front().measured.size();
    for (size_t i = 0; i < n; ++i) {
        for (const SpeedResults& speed : speeds) {
            if (i >= speed.measured.size()) continue;
            const Measured& m = speed.measured[i];
            const perf::Summary s = perf::Summarize(m.ms);
            const double ratio = s.median / m.limitMs;
            const bool hasGoal = speed.baud == m.goalBaud && !m.comparison;
            std::string limit = perf::Number(m.limitMs, 1) + " ms";
            if (hasGoal) limit += " (goal ratio ≤ " + perf::Number(m.goal, 2) + ")";
            std::string verdict = perf::Verdict(hasGoal, ratio <= m.goal);
            if (m.failures) verdict = std::to_string(m.failures) + " runs FAILED";
            perf::Row("line " + std::to_string(speed.baud) + ": " + m.measure,
                      perf::Figure(s, s.median < 100 ? 2 : 1, "ms"), limit, perf::Ratio(ratio),
                      verdict);
        }
    }
    for (const SpeedResults& speed : speeds) {
        const double ratio = speed.toolNoDelayMs / speed.modbusMs;
        perf::Row("line " + std::to_string(speed.baud) + ": function 17, link / libmodbus",
                  perf::Number(speed.toolNoDelayMs, 2) + " / " + perf::Number(speed.modbusMs, 2) +
                      " ms (medians)",
                  "goal: no slower than libmodbus (≤ 1, ±1 % noise)", perf::Ratio(ratio),
                  perf::Verdict(true, ratio <= kModbusTolerance));
    }
    for (const SpeedResults& speed : speeds) {
        const double ratio = speed.fastScanMs / speed.specifiedScanMs;
        perf::Row("line " + std::to_string(speed.baud) + ": fast / specified search",
                  perf::Number(speed.fastScanMs, 1) + " / " +
                      perf::Number(speed.specifiedScanMs, 1) + " ms (medians)",
                  "-", perf::Ratio(ratio), "");
    }
    for (const SpeedResults& speed : speeds) {
        for (const ProcessorShare& p : speed.processor) {
            const double threadPct = 100 * p.threadS / p.wallS;
            const double processPct = 100 * p.processS / p.wallS;
            const std::string goal = "goal ≤ " + perf::Number(kProcessorGoalPercent, 1) + " %";
            std::string perRead;
            if (p.operations > 0)
                perRead = ", " + perf::Number(1000 * p.threadS / p.operations, 2) + " ms a read";
            perf::Row("line " + std::to_string(speed.baud) + ": " + p.measure,
                      perf::Number(threadPct, 3) + " % of " + perf::Number(p.wallS, 1) + " s" +
                          perRead + " (link thread; process with simulator " +
                          perf::Number(processPct, 3) + " %)",
                      goal, perf::Ratio(threadPct / kProcessorGoalPercent),
                      perf::Verdict(true, threadPct <= kProcessorGoalPercent));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
        } else {
            std::fprintf(stderr, "usage: vek-bench-line [--quick]\n");
            return 2;
        }
    }
    // Nothing here should draw a message; if something does, it is told and answered.
    SetMessageResponder([](const OperatorMessage& m) {
        std::fprintf(stderr, "message: %s\n", m.text.c_str());
        return m.defaultButton;
    });

    std::vector<SpeedResults> speeds;
    try {
        for (int baud : {9600, 115200}) {
            std::fprintf(stderr, "line at %d bit/s\n", baud);
            LineBench bench(baud, options);
            speeds.push_back(bench.Run());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vek-bench-line: %s\n", e.what());
        return 1;
    }
    PrintRows(speeds);

    // vek-cli's start-up: process start to end of --version.
    std::vector<double> startMs;
    for (int i = 0; i < (options.quick ? 1 : 20); ++i) {
        const auto t0 = Clock::now();
        if (RunProgram({VEK_CLI_PATH, "--version"}) != 0) {
            std::fprintf(stderr, "vek-bench-line: vek-cli --version failed\n");
            return 1;
        }
        startMs.push_back(MsSince(t0));
    }
    const perf::Summary start = perf::Summarize(startMs);
    perf::Row("vek-cli start-up (--version, process start to end)", perf::Figure(start, 2, "ms"),
              "goal ≤ " + perf::Number(kCliStartGoalMs, 0) + " ms",
              perf::Ratio(start.median / kCliStartGoalMs),
              perf::Verdict(true, start.median <= kCliStartGoalMs));
    return 0;
}
