// The clock that the link waits on. The system clock is steady: its waits are neither
// stretched nor cut short when the time of day is set or passes midnight.
#pragma once

#include <cstdint>

class LinkClock {
  public:
    virtual ~LinkClock() = default;
    // Milliseconds on a steady time line with an arbitrary origin.
    virtual int64_t NowMs() = 0;
    // Sleeps for about the given time; the caller measures what really passed.
    virtual void SleepMs(int64_t ms) = 0;
};

// The process-wide steady clock.
LinkClock& SystemLinkClock();
