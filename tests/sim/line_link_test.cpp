// The simulated line served on a real pseudo-terminal, driven by the tool's own serial port
// and transaction engine: every exchange the tool makes, and every fault mode giving the
// result code the transaction must return.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "line_server.h"
#include "link/Comportclass.h"
#include "link/port_list.h"

using namespace vsim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class SimulatedLine : public ::testing::Test {
  protected:
    explicit SimulatedLine(int baud = 9600) : server({baud}) {
        server.WithLine([](VirtualLine& line) {
            line.SetBusyTime(200ms);
            line.Add(1, kTypeVek02, 3);
            line.Add(4, kTypeVek01, 1);
            line.Add(9, kTypeLsta, 1);
        });
        server.Start();
        ApplyComPort1Design(port);
        port.SetPort(server.PortPath());
        port.Open();
    }

    int32_t Run(int32_t deviceNumber, uint8_t function, std::vector<uint8_t> payload = {}) {
        return link.Transact(deviceNumber, function, payload, reply);
    }
    // Fault tests take one attempt per stage, so that a failure ends the transaction.
    void SingleAttempts() {
        link.SetStage1Attempts(1);
        link.SetStage2Attempts(1);
    }
    void Fault(int address, void (*set)(DeviceFaults&)) {
        server.WithLine([&](VirtualLine& line) { set(line.Find(address)->faults); });
    }
    std::vector<uint8_t> Data(size_t count) const {
        return {reply.begin() + 3, reply.begin() + 3 + static_cast<std::ptrdiff_t>(count)};
    }

    LineServer server;
    TComPort port;
    TComPortClass link{port};
    ReplyBuffer reply{};
};

// What an observer of the link sees is what the line carried, in order: every request exactly
// as the simulator received it, each attempt's reply as the part of what the simulator sent
// that the link read, and each transaction's end with its result and attempts.
TEST_F(SimulatedLine, ObserverSeesWhatTheLineCarries) {
    struct Recorder : LinkObserver {
        std::vector<std::string> frames;  // "rx ..." requests, "tx ..." replies, as the line
        std::vector<std::pair<int32_t, int32_t>> ends;
        static std::string Hex(const char* direction, std::span<const uint8_t> bytes) {
            std::string text = direction;
            char hex[4];
            for (uint8_t b : bytes) {
                std::snprintf(hex, sizeof hex, " %02X", b);
                text += hex;
            }
            return text;
        }
        void RequestWritten(int64_t, std::span<const uint8_t> frame) override {
            frames.push_back(Hex("rx", frame));
        }
        void ReplyRead(int64_t, std::span<const uint8_t> bytes, int64_t since) override {
            EXPECT_GE(since, 0);
            if (bytes.empty()) return;
            if (frames.back().rfind("tx", 0) != 0) frames.push_back("tx");
            frames.back() += Hex("", bytes);
        }
        void TransactionEnded(int64_t, int32_t result, int32_t attempts) override {
            ends.emplace_back(result, attempts);
        }
    } seen;
    std::vector<std::string> logged;
    std::mutex loggedMutex;
    server.log = [&](const std::string& line) {
        // "hh:mm:ss.mmm rx 01 11 ..  (note)": direction and bytes only
        std::string text = line.substr(line.find(' ') + 1);
        text = text.substr(0, text.find("  ("));
        std::lock_guard lock(loggedMutex);
        logged.push_back(text);
    };
    link.Observer = &seen;
    link.SetStage1Attempts(2);
    link.SetStage2Attempts(2);

    EXPECT_EQ(Run(0, 17), lrOk);
    EXPECT_EQ(Run(0, 68), lrOk);
    std::vector<uint8_t> block(reply.begin() + 3, reply.begin() + 3 + reply[2]);
    EXPECT_EQ(Run(0, 69, block), lrOk);  // written, never answered
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(Run(0, 14), lrOk);
    Fault(4, [](DeviceFaults& f) { f.badCrc = true; });
    EXPECT_EQ(Run(3, 17), lrChecksumError);
    EXPECT_EQ(Run(1, 17), lrNoReply);  // nobody at 2
    std::this_thread::sleep_for(50ms);
    link.Observer = nullptr;

    std::lock_guard lock(loggedMutex);
    ASSERT_EQ(seen.frames.size(), logged.size());
    for (size_t i = 0; i < logged.size(); ++i) {
        SCOPED_TRACE(i);
        // The link reads a reply only as far as it needs it.
        EXPECT_EQ(logged[i].rfind(seen.frames[i], 0), 0u) << logged[i];
    }
    EXPECT_EQ(
        seen.ends,
        (std::vector<std::pair<int32_t, int32_t>>{
            {lrOk, 1}, {lrOk, 1}, {lrOk, 1}, {lrOk, 1}, {lrChecksumError, 2}, {lrNoReply, 2}}));
}

TEST_F(SimulatedLine, ReadsIdentificationBlockAndMeasurements) {
    ASSERT_EQ(Run(0, 17), lrOk);
    EXPECT_EQ(reply[3], 3);  // version
    EXPECT_EQ(reply[5], kTypeVek02);

    ASSERT_EQ(Run(3, 17), lrOk);
    EXPECT_EQ(reply[0], 4);
    EXPECT_EQ(reply[5], kTypeVek01);
    ASSERT_EQ(Run(8, 17), lrOk);
    EXPECT_EQ(reply[5], kTypeLsta);

    ASSERT_EQ(Run(0, 68), lrOk);
    EXPECT_EQ(reply[2], kDefaultBlockLength);
    EXPECT_EQ(reply[3 + blk::kNumber], 0);
    const auto block = server.WithLine([](VirtualLine& l) { return l.Find(1)->Block(); });
    EXPECT_EQ(Data(block.size()), block);

    ASSERT_EQ(Run(0, 71, {0x00, 0x01}), lrOk);
    EXPECT_EQ(reply[2], 10);
    const int adc1 = static_cast<int16_t>((reply[6] << 8) | reply[7]);
    EXPECT_NEAR(adc1, VirtualDevice::AdcForPressure(60), 2);
    const int result1 = static_cast<int16_t>((reply[3] << 8) | reply[4]);
    EXPECT_NEAR(result1, 8188, 3);

    // Nobody at address 2.
    SingleAttempts();
    EXPECT_EQ(Run(1, 17), lrNoReply);
}

TEST_F(SimulatedLine, WriteThenConfirmAtTheNewNumberAfterTheBusyWindow) {
    ASSERT_EQ(Run(0, 68), lrOk);
    std::vector<uint8_t> block = Data(reply[2]);
    block[blk::kNumber] = 6;         // move to bus address 7
    block[blk::kSetpoint1] ^= 0x01;  // and change a setpoint
    ASSERT_EQ(Run(0, 69, block), lrOk);
    const auto written = Clock::now();
    // The next transaction empties the port's queues first: give the request time to leave,
    // as the tool's own pause after a write does.
    link.WaitMs(30);

    // While the block is stored the device answers its old address with "busy".
    EXPECT_EQ(Run(0, 17), lrDeviceBusy);
    EXPECT_LT(Clock::now() - written, 200ms);

    link.WaitMs(200);
    SingleAttempts();
    EXPECT_EQ(Run(0, 17), lrNoReply);
    link.SetStage1Attempts(5);
    ASSERT_EQ(Run(6, 14), lrOk);
    EXPECT_EQ(link.GetReplyLength(), 4);
    EXPECT_EQ(reply[0], 7);
    ASSERT_EQ(Run(6, 68), lrOk);
    EXPECT_EQ(Data(block.size()), block);
}

TEST_F(SimulatedLine, CalibrationModeIsEchoed) {
    ASSERT_EQ(Run(0, 5, {0x10, 0x01, 0xFF, 0x00}), lrOk);
    EXPECT_EQ(link.GetReplyLength(), 8);
    const uint8_t echo[] = {0x01, 0x05, 0x10, 0x01, 0xFF, 0x00, 0xD9, 0x3A};
    EXPECT_TRUE(std::equal(std::begin(echo), std::end(echo), reply.begin()));
    EXPECT_TRUE(server.WithLine([](VirtualLine& l) { return l.Find(1)->CalibrationMode(); }));
    ASSERT_EQ(Run(0, 5, {0x10, 0x01, 0x00, 0x00}), lrOk);
    EXPECT_FALSE(server.WithLine([](VirtualLine& l) { return l.Find(1)->CalibrationMode(); }));
}

struct FaultCase {
    const char* name;
    void (*set)(DeviceFaults&);
    int32_t expected;
};

const FaultCase kFaultCases[] = {
    {"silent", [](DeviceFaults& f) { f.silent = true; }, lrNoReply},
    {"every_reply_dropped", [](DeviceFaults& f) { f.dropEvery = 1; }, lrNoReply},
    {"cut_inside_the_header", [](DeviceFaults& f) { f.shortLength = 2; }, lrShortReply},
    {"cut_after_the_header", [](DeviceFaults& f) { f.shortLength = 3; }, lrNoReply},
    {"cut_in_the_body", [](DeviceFaults& f) { f.shortLength = 6; }, lrShortReply},
    {"wrong_checksum", [](DeviceFaults& f) { f.badCrc = true; }, lrChecksumError},
    {"foreign_function", [](DeviceFaults& f) { f.foreignFunction = 256; }, lrReceiveError},
    {"busy_exception", [](DeviceFaults& f) { f.exceptionCode = 6; }, lrDeviceBusy},
    {"other_exception", [](DeviceFaults& f) { f.exceptionCode = 2; }, 2},
    {"late_bytes", [](DeviceFaults& f) { f.splitGapMs = 250; }, lrShortReply},
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultyDevice : public SimulatedLine, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultyDevice, GivesTheTransactionsResultCode) {
    SingleAttempts();
    Fault(4, GetParam().set);
    EXPECT_EQ(Run(3, 17), GetParam().expected);
    link.WaitMs(300);  // whatever of the reply still comes must not spill into the next one
    // The other devices are not touched by one device's faults.
    EXPECT_EQ(Run(0, 17), lrOk);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultyDevice, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatedLine, RetriesGetThroughADeviceThatDropsEveryOtherReply) {
    Fault(1, [](DeviceFaults& f) { f.dropEvery = 2; });
    // The second request's first reply is lost; its second attempt gets through.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Run(0, 17), lrOk);
}

TEST_F(SimulatedLine, OverLongConfigurationReplyAndTypeChangeAfterWrite) {
    Fault(1, [](DeviceFaults& f) {
        f.longBlock = 40;
        f.typeAfterWrite = kTypeVek01;
    });
    ASSERT_EQ(Run(0, 68), lrOk);
    EXPECT_EQ(reply[2], 40);
    std::vector<uint8_t> block = Data(kDefaultBlockLength);
    server.WithLine([](VirtualLine& l) { l.SetBusyTime(0ms); });
    ASSERT_EQ(Run(0, 69, block), lrOk);
    link.WaitMs(50);
    ASSERT_EQ(Run(0, 17), lrOk);
    EXPECT_EQ(reply[5], kTypeVek01);
}

// Requests are cut from the line by silence, not by their length: the far end writes raw bytes.
class RawLine : public ::testing::Test {
  protected:
    RawLine() {
        server.WithLine([](VirtualLine& line) { line.Add(1, kTypeVek02); });
        server.Start();
        fd = ::open(server.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ~RawLine() override { ::close(fd); }

    void Write(std::vector<uint8_t> bytes) {
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::vector<uint8_t> ReadFor(std::chrono::milliseconds time) {
        std::vector<uint8_t> got;
        const auto end = Clock::now() + time;
        while (Clock::now() < end) {
            pollfd pfd{fd, POLLIN, 0};
            ::poll(&pfd, 1, 10);
            uint8_t buffer[300];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    LineServer server{{9600}};
    int fd = -1;
    const std::vector<uint8_t> identify{0x01, 0x11, 0xC0, 0x2C};
};

TEST_F(RawLine, ARequestWrittenInPiecesWithinTheGapIsOneFrame) {
    Write({0x01, 0x11});
    Write({0xC0, 0x2C});
    EXPECT_EQ(ReadFor(200ms).size(), 8u);
}

TEST_F(RawLine, NoiseBeforeASilenceDoesNotSpoilTheNextRequest) {
    Write({0x55, 0x01, 0x11});
    std::this_thread::sleep_for(50ms);  // a silence on the line, far beyond the frame gap
    Write(identify);
    const auto got = ReadFor(200ms);
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got[5], kTypeVek02);
}

TEST_F(RawLine, TwoRequestsWithoutSilenceAreNotAnswered) {
    std::vector<uint8_t> both = identify;
    both.insert(both.end(), identify.begin(), identify.end());
    Write(both);
    EXPECT_TRUE(ReadFor(150ms).empty());
}

TEST(LinePacing, RepliesTakeElevenBitsACharacterAfterTheTurnaround) {
    // At 1200 bit/s a 27-byte block reply needs 27 × 9.17 ms ≈ 248 ms on the wire.
    LineServer server({1200});
    server.WithLine([](VirtualLine& line) {
        line.Add(1, kTypeVek02);
        line.SetTurnaroundMs(40);
    });
    server.Start();
    TComPort port;
    ApplyComPort1Design(port);
    port.SetPort(server.PortPath());
    port.Open();
    TComPortClass link{port};
    link.SetSendDelay(0);
    ReplyBuffer reply{};
    const auto start = Clock::now();
    ASSERT_EQ(link.Transact(0, 68, {}, reply), lrOk);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 248ms + 40ms);
    EXPECT_LT(took, 1500ms);
}

TEST(LineServerLifecycle, StopsPromptlyAndPublishesItsPort) {
    const std::string dir = ::testing::TempDir() + "vek-sim-publish";
    ::mkdir(dir.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    LineServer server;
    server.Start();
    {
        PublishedPort published;
        ASSERT_EQ(published.Publish("ttyTest", server.PortPath()), "");
        EXPECT_EQ(published.Path(), dir + "/vek-ports/ttyTest");
        char target[256] = {};
        ASSERT_GT(::readlink(published.Path().c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(server.PortPath(), target);
        // The tool's port list offers it.
        const std::vector<std::string> ports = SystemPortNames();
        EXPECT_NE(std::find(ports.begin(), ports.end(), published.Path()), ports.end());
        // A second line cannot take the name while this one serves.
        PublishedPort other;
        EXPECT_NE(other.Publish("ttyTest", server.PortPath()), "");
        EXPECT_NE(other.Publish("../escape", server.PortPath()), "");
    }
    EXPECT_NE(::access((dir + "/vek-ports/ttyTest").c_str(), F_OK), 0);
    // A link left behind by a line that is gone is replaced.
    ASSERT_EQ(::symlink("/dev/pts/nonexistent-vek", (dir + "/vek-ports/ttyStale").c_str()), 0);
    PublishedPort again;
    EXPECT_EQ(again.Publish("ttyStale", server.PortPath()), "");
    ::unsetenv("XDG_RUNTIME_DIR");

    const auto start = Clock::now();
    server.Stop();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(server.Running());
}

}  // namespace
