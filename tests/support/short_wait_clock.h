// A clock for exchanges with the simulator on a pseudo-terminal: it runs in real time, but a
// long wait (the write's store wait, the pauses between attempts) passes in a few
// milliseconds while the clock moves on by the whole time. Short waits, such as the send
// delay that keeps frames apart on the line, stay real.
#pragma once

#include "link/link_clock.h"

class ShortWaitClock final : public LinkClock {
  public:
    explicit ShortWaitClock(int64_t longestRealWaitMs = 30)
        : longest_(longestRealWaitMs * 1'000'000) {}
    int64_t NowNs() override { return SystemLinkClock().NowNs() + skipped_; }
    void SleepNs(int64_t ns) override {
        if (ns > longest_) {
            skipped_ += ns - longest_;
            ns = longest_;
        }
        SystemLinkClock().SleepNs(ns);
    }
    int64_t SkippedMs() const { return skipped_ / 1'000'000; }

  private:
    int64_t longest_;
    int64_t skipped_ = 0;
};
