// A serial port backend without a line: a responder plays the device, its replies wait in an
// input queue, and reads take from that queue as a driver would, moving a fake clock by the
// time the port's time-outs would have taken. Transactions run in no real time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/Cport.h"
#include "link/link_clock.h"

class FakeClock final : public LinkClock {
  public:
    explicit FakeClock(int64_t startMs = 0) : now_(startMs * 1'000'000) {}
    int64_t NowNs() override { return now_; }
    void SleepNs(int64_t ns) override {
        if (ns > 0) now_ += ns;
        slept_ += ns;
    }
    void Advance(int64_t ms) { now_ += ms * 1'000'000; }
    void AdvanceTo(int64_t ns) { now_ = std::max(now_, ns); }
    int64_t NowMs() const { return now_ / 1'000'000; }
    int64_t SleptMs() const { return slept_ / 1'000'000; }

  private:
    int64_t now_;
    int64_t slept_ = 0;
};

using Bytes = std::vector<uint8_t>;

class ScriptedBackend final : public ComPortBackend {
  public:
    // Answers each request written; the bytes join the input queue.
    std::function<Bytes(const Bytes& request)> responder;
    // When set and the clock is, the answer to a request arrives this many ms after its write
    // (all its bytes at once); a flush meanwhile does not stop it. Reads wait for it as a
    // driver would, within the port's time-outs.
    std::function<int64_t(const Bytes& request)> replyDelayMs;
    FakeClock* clock = nullptr;
    bool failPurge = false;

    std::vector<Bytes> writes;
    std::vector<std::string> calls;  // every backend call in order, with its arguments
    std::deque<uint8_t> input;
    std::deque<std::pair<int64_t, uint8_t>> onTheWay;  // (arrival in ns, byte)
    ComControlBlock lastControlBlock;
    ComTimeoutValues lastTimeouts;

    void Open(const std::string& port) override;
    void SetupBuffers(int32_t in, int32_t out) override;
    void SetControlBlock(const ComControlBlock& dcb) override;
    void SetTimeouts(const ComTimeoutValues& t) override;
    void Purge(unsigned flags) override;
    void Close() override;
    int Write(const uint8_t* buffer, int count) override;
    int Read(uint8_t* buffer, int count) override;

    // Fails the named call ("open", "buffers", "dcb", "timeouts") with its failure code.
    std::string failOn;

  private:
    // Moves the bytes on the way that have arrived by now into the input queue.
    void Arrive();
};

// Appends the CRC-16/MODBUS to a frame body.
Bytes WithCrc(Bytes frame);
