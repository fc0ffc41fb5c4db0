// The search of the line on a scripted port and a fake clock: which addresses are asked, in
// which order and with which waits, for devices that answer at once, inside and beyond the
// fast search's first-byte wait, garbled, foreign or not at all.
#include <gtest/gtest.h>

#include <map>

#include "device/line_search.h"
#include "support/scripted_port.h"

namespace {

struct Behaviour {
    int64_t delayMs = 5;  // turnaround; -1: silent
    enum { Whole, Garbled, Foreign } reply = Whole;
};

struct Line {
    explicit Line(std::map<int, Behaviour> devices) {
        auto backend = std::make_unique<ScriptedBackend>();
        script = backend.get();
        script->clock = &clock;
        script->responder = [devices](const Bytes& request) -> Bytes {
            const int address = request[0];
            const auto d = devices.find(address);
            if (d == devices.end() || d->second.delayMs < 0) return {};
            Bytes reply = WithCrc({request[0], 0x11, 0x04, 0x01, 0xFF, 106, 0x00});
            if (d->second.reply == Behaviour::Garbled) reply.back() ^= 0xFF;
            if (d->second.reply == Behaviour::Foreign) reply = WithCrc({0x1F, 0x11, 0x00});
            return reply;
        };
        script->replyDelayMs = [devices](const Bytes& request) {
            const auto d = devices.find(request[0]);
            return d == devices.end() ? 0 : std::max<int64_t>(d->second.delayMs, 0);
        };
        port = std::make_unique<TComPort>(std::move(backend));
        ApplyComPort1Design(*port);
        port->Open();
        link = std::make_unique<TComPortClass>(*port, clock);
    }

    // Runs a whole search; the addresses it found and every request's address in order.
    std::vector<int> Search(int highest, int firstByteWaitMs) {
        LineSearch search(*link, highest, firstByteWaitMs);
        while (!search.Done())
            search.Step();
        found = search.Found();
        std::vector<int> addresses;
        for (const FoundDevice& f : found)
            addresses.push_back(f.address);
        return addresses;
    }
    std::vector<int> Requests() const {
        std::vector<int> asked;
        for (const Bytes& w : script->writes)
            asked.push_back(w[0]);
        return asked;
    }

    FakeClock clock;
    ScriptedBackend* script = nullptr;
    std::unique_ptr<TComPort> port;
    std::unique_ptr<TComPortClass> link;
    std::vector<FoundDevice> found;
};

TEST(LineSearch, FastSearchFindsWhatTheSpecifiedOneFinds) {
    struct Case {
        const char* name;
        std::map<int, Behaviour> devices;
        std::vector<int> found;
        std::vector<int> requests;  // of the fast search
        std::vector<int> late;      // found by the confirming pass
    };
    const Behaviour silent{-1};
    // A silent address asked again is asked twice (the search's two header attempts), a
    // garbled reply ten times (the link's body attempts).
    const std::vector<Case> cases = {
        {"answering and silent", {{1, {}}, {3, {60}}}, {1, 3}, {1, 2, 3, 4}, {}},
        // 150 ms: the reply comes in address 3's first-byte wait and names address 2; 2 and
        // 3, asked while 2 was about to answer, are asked again.
        {"late reply, heard as a foreign header", {{2, {150}}}, {2}, {1, 2, 3, 4, 2, 3, 3}, {2}},
        // 80 ms: the reply comes before address 3's request, while the link waits to send.
        {"late reply, waiting before the next request", {{2, {80}}}, {2}, {1, 2, 3, 4, 2}, {2}},
        // The last address's reply comes after the pass: the search listens for it.
        {"late reply of the last address", {{4, {400}}}, {4}, {1, 2, 3, 4, 4}, {4}},
        {"garbled reply",
         {{2, {5, Behaviour::Garbled}}},
         {},
         {1, 2, 3, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
         {}},
        // A reply that names no address asked: every address that may have sent it, again.
        {"foreign reply", {{2, {5, Behaviour::Foreign}}}, {}, {1, 2, 3, 4, 1, 1, 2, 2}, {}},
        {"every address silent", {{1, silent}}, {}, {1, 2, 3, 4}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line specified(c.devices);
        EXPECT_EQ(specified.Search(4, 0), c.found);
        // The specified search: every address in order, each as often as the link asks it.
        const std::vector<int> requests = specified.Requests();
        EXPECT_TRUE(std::is_sorted(requests.begin(), requests.end()));

        Line fast(c.devices);
        EXPECT_EQ(fast.Search(4, 70), c.found);
        EXPECT_EQ(fast.Requests(), c.requests);
        std::vector<int> late;
        for (const FoundDevice& f : fast.found)
            if (f.late) late.push_back(f.address);
        EXPECT_EQ(late, c.late);
        // The link's own settings are back.
        EXPECT_EQ(fast.link->GetStage1Attempts(), 5);
        EXPECT_EQ(fast.link->FirstByteWaitMs, 0);
        EXPECT_EQ(fast.link->RetryPauseMs, 300);
    }
}

// Devices slower than the first-byte wait, by any amount within the specified header
// time-out, next to each other or apart: the fast search finds every one.
TEST(LineSearch, LateDevicesAreNeverMissing) {
    for (const int64_t delay : {75, 90, 120, 300, 700, 1200}) {
        for (const auto& addresses : {std::vector<int>{2, 3}, std::vector<int>{1, 6}}) {
            std::map<int, Behaviour> devices;
            for (int a : addresses)
                devices[a] = {delay};
            Line fast(devices);
            EXPECT_EQ(fast.Search(6, 70), addresses) << "turnaround " << delay << " ms";
        }
    }
}

TEST(LineSearch, TimingOfTheTwoSearches) {
    // Four silent addresses: 2 × (25 + 1300 + 300) ms each as specified; 25 + 70 ms each in
    // the fast pass, then a wait for the last one's late reply (its header time-out after
    // its request).
    Line specified(std::map<int, Behaviour>{});
    specified.Search(4, 0);
    EXPECT_EQ(specified.clock.NowMs(), 4 * 2 * (25 + 1300 + 300));
    Line fast(std::map<int, Behaviour>{});
    fast.Search(4, 70);
    EXPECT_GE(fast.clock.NowMs(), 3 * (25 + 70) + 25 + 1300);
    EXPECT_LE(fast.clock.NowMs(), 3 * (25 + 70) + 25 + 1300 + 100);
    // An answering device: its reply time.
    Line one(std::map<int, Behaviour>{{1, {20}}});
    one.Search(1, 70);
    ASSERT_EQ(one.found.size(), 1u);
    EXPECT_NEAR(one.found[0].replyMs, 20, 1);
    EXPECT_EQ(FirstByteWaitFor(9600), 70);
    EXPECT_EQ(FirstByteWaitFor(115200), 60);
}

// A stop after any step, of either pass: nothing more is asked, what was found stays, and
// the link's settings are its own.
TEST(LineSearch, StopsAtEveryStepBoundaryAndKeepsWhatItFound) {
    // Devices at 1 and 3 (3 late), 2 and 4 silent: 4 steps of the fast pass, the listening
    // step, then the confirming pass asks 3 and 4.
    const std::map<int, Behaviour> devices{{1, {}}, {3, {150}}};
    Line whole(devices);
    whole.Search(4, 70);
    const std::vector<int> all = whole.Requests();
    for (size_t steps = 0;; ++steps) {
        Line line(devices);
        LineSearch search(*line.link, 4, 70);
        for (size_t i = 0; i < steps && !search.Done(); ++i)
            search.Step();
        if (search.Done()) break;
        const std::vector<int> asked = line.Requests();
        const size_t found = search.Found().size();
        search.Stop();
        search.Step();
        EXPECT_TRUE(search.Done());
        EXPECT_EQ(line.Requests(), asked) << "stopped after " << steps << " steps";
        EXPECT_EQ(search.Found().size(), found);
        EXPECT_EQ(std::vector<int>(all.begin(), all.begin() + asked.size()), asked);
        EXPECT_EQ(line.link->GetStage1Attempts(), 5);
        EXPECT_EQ(line.link->FirstByteWaitMs, 0);
    }
}

}  // namespace
