// The clock that the link waits on. The system clock is steady: its waits are neither
// stretched nor cut short when the time of day is set or passes midnight.
#pragma once

#include <cstdint>

class LinkClock {
  public:
    virtual ~LinkClock() = default;
    // Nanoseconds on a steady time line with an arbitrary origin: the clock's own resolution,
    // so that a wait is never cut short by rounding.
    virtual int64_t NowNs() = 0;
    // Sleeps for about the given time; the caller measures what really passed.
    virtual void SleepNs(int64_t ns) = 0;
};

// The process-wide steady clock.
LinkClock& SystemLinkClock();
