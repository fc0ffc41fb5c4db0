#include "link_clock.h"

#include <chrono>
#include <thread>

namespace {

class SteadyLinkClock final : public LinkClock {
  public:
    int64_t NowMs() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void SleepMs(int64_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

LinkClock& SystemLinkClock() {
    static SteadyLinkClock clock;
    return clock;
}
