// The search of the line for the devices that answer at bus addresses 1..highest, one address
// a step, so that a window can paint and take a stop between steps and no step ever runs two
// exchanges at once.
//
// The specified search asks every address once with the search's two header attempts and the
// link's whole time-outs: a silent address costs about 3.3 s. The fast search asks every
// address once with one attempt, a short wait for the reply's first byte and no pause after
// it; bytes that come late (a device slower than the wait, a garbled or foreign reply) mark
// every address that may have sent them, and those addresses are asked again, in a confirming
// pass, with the specified timing: the address a late reply names and those asked while it
// was about to answer, or every address that may have sent bytes that name none. A device that
// answers at all within the specified header time-out is therefore found by one pass or the other.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "link/Comportclass.h"

// The first-byte wait of the fast search at a line speed: a turnaround allowance of 50 ms and
// ten characters, rounded up to 10 ms (70 ms at 9600 bit/s, 60 ms at 115200).
int32_t FirstByteWaitFor(int32_t baud);

struct FoundDevice {
    int32_t address = 0;  // 1..32
    int32_t type = 0;
    int32_t version = 0;
    double replyMs = 0;  // from the request's write to the reply's end
    bool late = false;   // found by the confirming pass only
};

// The found devices as CSV: a heading line, then address, model, version, reply time in ms and
// "поздно" for a device found by the confirming pass.
std::string FoundDevicesCsv(const std::vector<FoundDevice>& found);

class LineSearch {
  public:
    // firstByteWaitMs 0: the specified search; above 0: the fast search with that wait.
    LineSearch(TComPortClass& link, int32_t highest, int32_t firstByteWaitMs);

    bool Done() const { return done_; }
    // One address; the link's settings are its own again after every step.
    void Step();
    // The search ends at the next step boundary; what was found stays.
    void Stop() { done_ = true; }

    // The found devices in the order of their addresses.
    const std::vector<FoundDevice>& Found() const { return found_; }
    // The result that ended the search at a failed or closed port (a port that cannot be used),
    // else lrOk.
    int32_t PortResult() const { return portResult_; }
    int32_t PortResultAddress() const { return portResultAddress_; }
    // Steps taken, for a progress display.
    int32_t Steps() const { return steps_; }

  private:
    struct Asked {
        int32_t address;
        int64_t requestNs;
    };
    void Ask(int32_t address, bool confirming);
    bool IsFound(int32_t address) const;
    // Not found, and asked within its late window of the given time.
    bool MayHaveSent(int32_t address, int64_t arrivedAfterNs) const;
    // Bytes heard after the given time that begin a reply of `sender` (0: of no one known).
    void Heard(int64_t arrivedAfterNs, int32_t sender);
    // The link found stray bytes before a request or after the pass.
    void HeardStray();
    void SuspectFrom(int32_t sender);
    // Bytes that no whole reply explains came after the given time: every address whose late
    // window was still open then may have sent them, and is asked again.
    void Suspect(int64_t arrivedAfterNs);
    void Listen();

    TComPortClass& link_;
    const int32_t highest_;
    const int32_t firstByteWaitMs_;
    int32_t next_ = 1;
    bool firstPass_ = true;
    bool listened_ = false;
    bool tailExpected_ = false;
    bool done_ = false;
    int32_t steps_ = 0;
    int64_t lastStepStartNs_ = 0;
    int32_t portResult_ = lrOk;
    int32_t portResultAddress_ = 0;
    std::vector<FoundDevice> found_;
    std::vector<Asked> asked_;
    std::set<int32_t> suspects_;
};
