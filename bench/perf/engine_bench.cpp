// The link's own cost per frame, without a line: TComPortClass::Transact on a scripted port
// whose replies are ready at once and whose clock is fake (the 25 ms send delay passes in no
// time), so that what is measured is the engine's work (framing, CRC, the two reads, the
// checks) plus the scripted port's bookkeeping. Also the CRC and the device record's block
// load on their own.
//
//   vek-bench-engine [--quick] [Google Benchmark options]
//
// The benchmark library's own report goes to standard error; the rows of the benchmark table
// (see perf_table.h) to standard output.
#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/Obrnastr.h"
#include "link/Comportclass.h"
#include "perf_table.h"
#include "support/scripted_port.h"

namespace {

constexpr int kFastBaud = 115200;

// A device's configuration block: 22 bytes, device number 0 at offset 17.
Bytes Block() {
    Bytes block(22, 0);
    block[0] = 0x10;  // scale start 1
    block[1] = 0x27;
    block[2] = 0x30;  // scale end 1
    block[3] = 0x75;
    block[5] = 0x00;
    block[6] = 0x20;
    return block;
}

Bytes Counted(uint8_t function, const Bytes& data) {
    Bytes frame{0x01, function, static_cast<uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    return WithCrc(frame);
}

const Bytes kIdentification = Counted(17, {1, 0, 106});
const Bytes kConfiguration = Counted(68, Block());
const Bytes kMeasurements =
    Counted(71, {0x00, 0x10, 0x00, 0x20, 0x00, 0x00, 0x30, 0x75, 0x10, 0x27});

// A link on an open scripted port that answers each request as a device at address 1 would,
// at once.
class ScriptedLink {
  public:
    ScriptedLink() {
        auto backend = std::make_unique<ScriptedBackend>();
        backend_ = backend.get();
        backend_->clock = &clock_;
        backend_->responder = [](const Bytes& request) -> Bytes {
            switch (request[1]) {
                case 17:
                    return kIdentification;
                case 68:
                    return kConfiguration;
                case 71:
                    return kMeasurements;
                default:
                    return {};  // 69: no reply
            }
        };
        port_ = std::make_unique<TComPort>(std::move(backend));
        ApplyComPort1Design(*port_);
        port_->SetPort("/dev/scripted");
        port_->Open();
        link_ = std::make_unique<TComPortClass>(*port_, clock_);
    }

    int32_t Transact(uint8_t function, std::span<const uint8_t> payload) {
        // The scripted port records every request and call; forget them now and then so that
        // the record does not grow with the iterations.
        if (++count_ % 1024 == 0) {
            backend_->writes.clear();
            backend_->calls.clear();
        }
        return link_->Transact(0, function, payload, reply);
    }

    ReplyBuffer reply{};

  private:
    FakeClock clock_;
    ScriptedBackend* backend_ = nullptr;
    std::unique_ptr<TComPort> port_;
    std::unique_ptr<TComPortClass> link_;
    uint64_t count_ = 0;
};

void TransactOne(benchmark::State& state, uint8_t function, Bytes payload) {
    ScriptedLink link;
    for (auto _ : state) {
        int32_t result = link.Transact(function, payload);
        benchmark::DoNotOptimize(result);
        if (result != lrOk) {
            state.SkipWithError("the transaction failed");
            break;
        }
    }
}

// The three transactions of a device read with the record's loads between them.
void DeviceRead(benchmark::State& state) {
    ScriptedLink link;
    TProgVEKClass record;
    const uint8_t measure[] = {0x00, 0x01};
    for (auto _ : state) {
        int32_t result = link.Transact(17, {});
        link.reply.fill(0);
        result |= link.Transact(68, {});
        record.SetBlockLength(link.reply[2]);
        record.LoadBlock(link.reply);
        link.reply.fill(0);
        result |= link.Transact(71, measure);
        record.LoadMeasurements(link.reply);
        benchmark::DoNotOptimize(record);
        if (result != lrOk) {
            state.SkipWithError("the read failed");
            break;
        }
    }
}

void Crc(benchmark::State& state) {
    const Bytes& frame = kConfiguration;
    const int32_t count = static_cast<int32_t>(frame.size()) - 2;
    for (auto _ : state) {
        uint16_t crc = TComPortClass::Crc16(frame.data(), count);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * count);
}

void BlockLoad(benchmark::State& state) {
    TProgVEKClass record;
    const std::span<const uint8_t> frame(kConfiguration);
    for (auto _ : state) {
        record.SetBlockLength(frame[2]);
        record.LoadBlock(frame);
        benchmark::DoNotOptimize(record);
        benchmark::ClobberMemory();
    }
}

// What each benchmark is in the table, and the characters its frames put on the line (request
// and reply), 0 for work that is not an exchange.
struct Entry {
    std::string label;
    int lineCharacters;
};

// Keeps the time per iteration of every repetition, and passes everything on to the console
// report.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    TableReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            seconds[run.run_name.function_name].push_back(run.GetAdjustedRealTime() /
                                                          UnitsPerSecond(run.time_unit));
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::vector<double>> seconds;

  private:
    static double UnitsPerSecond(benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kNanosecond:
                return 1e9;
            case benchmark::kMicrosecond:
                return 1e6;
            case benchmark::kMillisecond:
                return 1e3;
            default:
                return 1;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    const int repetitions = quick ? 1 : 10;
    const double minTime = quick ? 0.01 : 0.2;
    std::vector<std::pair<std::string, Entry>> entries;
    auto add = [&](const std::string& name, Entry entry, benchmark::TimeUnit unit, auto&& fn) {
        benchmark::RegisterBenchmark(name.c_str(), fn)
            ->Unit(unit)
            ->Repetitions(repetitions)
            ->MinTime(minTime);
        entries.emplace_back(name, std::move(entry));
    };
    add("transact_17", {"engine: Transact, function 17 (4 + 8 bytes)", 4 + 8},
        benchmark::kMicrosecond, [](benchmark::State& s) { TransactOne(s, 17, {}); });
    add("transact_68", {"engine: Transact, function 68 (4 + 27 bytes)", 4 + 27},
        benchmark::kMicrosecond, [](benchmark::State& s) { TransactOne(s, 68, {}); });
    add("transact_71", {"engine: Transact, function 71 (6 + 15 bytes)", 6 + 15},
        benchmark::kMicrosecond, [](benchmark::State& s) {
            TransactOne(s, 71, {0x00, 0x01});
        });
    add("transact_69", {"engine: Transact, function 69 (26 bytes, no reply)", 26},
        benchmark::kMicrosecond, [](benchmark::State& s) { TransactOne(s, 69, Block()); });
    add("device_read", {"engine: device read, 17 + 68 + 71 with record loads", 12 + 31 + 21},
        benchmark::kMicrosecond, DeviceRead);
    add("crc16", {"engine: CRC-16 of a 25-byte frame", 0}, benchmark::kNanosecond, Crc);
    add("block_load", {"engine: record block load (22 bytes)", 0}, benchmark::kNanosecond,
        BlockLoad);

    TableReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // The engine's time against the time its frames take on the wire at the fast speed: the
    // share of a transaction that is the tool's own work.
    for (const auto& [name, entry] : entries) {
        auto found = reporter.seconds.find(name);
        if (found == reporter.seconds.end()) continue;  // filtered out or failed
        const bool micro = entry.lineCharacters > 0;
        std::vector<double> scaled;
        for (double s : found->second)
            scaled.push_back(s * (micro ? 1e6 : 1e9));
        const perf::Summary sum = perf::Summarize(scaled);
        std::string limit = "-";
        std::string ratio = "-";
        if (micro) {
            const double wireUs = entry.lineCharacters * perf::CharacterMs(kFastBaud) * 1000;
            limit = "wire " + perf::Number(wireUs / 1000, 2) + " ms at 115200";
            ratio = perf::Number(sum.median / wireUs, 5);
        }
        perf::Row(entry.label, perf::Figure(sum, micro ? 2 : 1, micro ? "µs" : "ns"), limit, ratio,
                  "");
    }
    return 0;
}
