#include "link/link_clock.h"

#include <chrono>
#include <thread>

namespace {

class SteadyLinkClock final : public LinkClock {
  public:
    int64_t NowNs() override {
        using namespace std::chrono;
        return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void SleepNs(int64_t ns) override { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }
};

}  // namespace

LinkClock& SystemLinkClock() {
    static SteadyLinkClock clock;
    return clock;
}
