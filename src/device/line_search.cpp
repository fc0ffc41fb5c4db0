#include "device/line_search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/saved_text.h"
#include "device/device_exchanges.h"

namespace {

constexpr int64_t kNsPerMs = 1'000'000;

double CharacterMs(int32_t baud) {
    return baud > 0 ? 11.0 * 1000 / baud : 11.0;
}

// How long after its request a device may still begin to answer under the specified timing
// (the header read's 1300 ms time-out), plus the reply's own characters and a margin: bytes
// heard within this time of a request may be its reply.
int64_t LateWindowNs(int32_t baud) {
    return static_cast<int64_t>((1300 + 8 * CharacterMs(baud) + 50) * kNsPerMs);
}

// The results that end a search: a port that cannot be opened, set up or used.
bool EndsSearch(int32_t result) {
    return (result >= lrPortOpenFailed && result <= lrPortSetupError) || result == lrPortFailed;
}

// Bytes came that are no whole reply to the request.
bool HeardBytes(int32_t result) {
    return result == lrShortReply || result == lrChecksumError || result == lrReceiveError;
}

}  // namespace

int32_t FirstByteWaitFor(int32_t baud) {
    const auto ms = static_cast<int64_t>(std::ceil(50 + 10 * CharacterMs(baud)));
    return static_cast<int32_t>((ms + 9) / 10 * 10);
}

std::string FoundDevicesCsv(const std::vector<FoundDevice>& found) {
    std::string text = "устройство,модель,версия,ответ через мс,поздний ответ\n";
    for (const FoundDevice& f : found) {
        text += std::to_string(f.address) + "," + ModelName(f.type) + "," +
                std::to_string(f.version) + "," + NumberText(f.replyMs, 1) + "," +
                (f.late ? "да" : "") + "\n";
    }
    return text;
}

LineSearch::LineSearch(TComPortClass& link, int32_t highest, int32_t firstByteWaitMs)
    : link_(link), highest_(std::clamp(highest, 0, 32)), firstByteWaitMs_(firstByteWaitMs) {
    done_ = highest_ == 0;
}

void LineSearch::Step() {
    if (done_) return;
    ++steps_;
    if (firstPass_) {
        Ask(next_++, false);
        if (next_ > highest_) {
            firstPass_ = false;
            if (firstByteWaitMs_ <= 0) done_ = true;
        }
        return;
    }
    if (!listened_) {
        listened_ = true;
        Listen();
        if (!done_ && !suspects_.empty()) return;
    }
    if (suspects_.empty()) {
        done_ = true;
        return;
    }
    const int32_t address = *suspects_.begin();
    suspects_.erase(suspects_.begin());
    Ask(address, true);
    if (suspects_.empty()) done_ = true;
}

void LineSearch::Ask(int32_t address, bool confirming) {
    const bool fast = firstByteWaitMs_ > 0 && !confirming;
    // The link's own values come back after the step, whatever happens in it.
    struct Saved {
        TComPortClass& link;
        int32_t wait = link.FirstByteWaitMs;
        int32_t pause = link.RetryPauseMs;
        int32_t bodyAttempts = link.GetStage2Attempts();
        ~Saved() {
            link.FirstByteWaitMs = wait;
            link.RetryPauseMs = pause;
            link.SetStage2Attempts(bodyAttempts);
        }
    } saved{link_};
    ScopedStage1Attempts attempts(link_, fast ? 1 : kSearchStage1Attempts);
    // The fast pass asks once: whatever is not a whole reply is asked again as specified.
    link_.FirstByteWaitMs = fast ? firstByteWaitMs_ : 0;
    if (fast) {
        link_.RetryPauseMs = 0;
        link_.SetStage2Attempts(1);
    }

    link_.StrayData.clear();
    const int64_t start = link_.Clock().NowNs();
    const Identification id = Identify(link_, address - 1);
    const int64_t end = link_.Clock().NowNs();
    const int64_t requestNs = start + int64_t{link_.GetSendDelay()} * kNsPerMs;
    // Bytes waiting before this request came after the previous step's request.
    if (!link_.StrayData.empty()) HeardStray();
    asked_.push_back({address, requestNs});
    lastStepStartNs_ = start;
    tailExpected_ = false;

    if (id.result == lrOk) {
        found_.push_back({address, id.type, id.version,
                          static_cast<double>(end - requestNs) / kNsPerMs, confirming});
        std::sort(found_.begin(), found_.end(),
                  [](const FoundDevice& a, const FoundDevice& b) { return a.address < b.address; });
    } else if (EndsSearch(id.result)) {
        portResult_ = id.result;
        portResultAddress_ = address;
        done_ = true;
    } else if (fast && HeardBytes(id.result)) {
        Heard(start, id.heardAddress);
        // The rest of a reply whose start came here comes before the next request.
        tailExpected_ = id.heardAddress != 0;
    }
}

bool LineSearch::IsFound(int32_t address) const {
    return std::any_of(found_.begin(), found_.end(),
                       [&](const FoundDevice& f) { return f.address == address; });
}

// Stray bytes may hold the rest of a reply whose start the last step heard, and the whole or
// the start of others: every reply start in them names its sender.
void LineSearch::HeardStray() {
    const std::vector<uint8_t>& data = link_.StrayData;
    bool named = false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        const int32_t sender = IdentificationReplyAddress(std::span(data).subspan(i, 2));
        if (sender != 0 && MayHaveSent(sender, lastStepStartNs_)) {
            SuspectFrom(sender);
            named = true;
        }
    }
    if (!named && !tailExpected_) Suspect(lastStepStartNs_);
}

bool LineSearch::MayHaveSent(int32_t address, int64_t arrivedAfterNs) const {
    const int64_t window = LateWindowNs(link_.Baud());
    return !IsFound(address) && std::any_of(asked_.begin(), asked_.end(), [&](const Asked& a) {
        return a.address == address && a.requestNs + window >= arrivedAfterNs;
    });
}

void LineSearch::Heard(int64_t arrivedAfterNs, int32_t sender) {
    if (sender != 0 && MayHaveSent(sender, arrivedAfterNs)) return SuspectFrom(sender);
    // Anything else (a collision, noise) may come from any of them.
    Suspect(arrivedAfterNs);
}

// A late reply names its sender. The requests made after the sender's, while it was about to
// answer or answering, may have met its reply on the line: they are asked again too.
void LineSearch::SuspectFrom(int32_t sender) {
    bool after = false;
    for (const Asked& a : asked_) {
        after = after || a.address == sender;
        if (after && !IsFound(a.address)) suspects_.insert(a.address);
    }
}

void LineSearch::Suspect(int64_t arrivedAfterNs) {
    for (const Asked& a : asked_) {
        if (MayHaveSent(a.address, arrivedAfterNs)) suspects_.insert(a.address);
    }
}

// After the fast pass: the last addresses' late replies would come with no request after
// them to notice them, so the search waits out their late window and looks at the input.
void LineSearch::Listen() {
    if (!link_.PortConnected()) return;
    const int64_t window = LateWindowNs(link_.Baud());
    int64_t until = 0;
    for (const Asked& a : asked_) {
        if (!IsFound(a.address)) until = std::max(until, a.requestNs + window);
    }
    const int64_t now = link_.Clock().NowNs();
    if (until <= now) return;
    link_.WaitMs(static_cast<int32_t>((until - now + kNsPerMs - 1) / kNsPerMs));
    link_.StrayData.clear();
    if (!link_.CountStrayBytes()) {
        portResult_ = lrPortFailed;
        portResultAddress_ = asked_.back().address;
        done_ = true;
        return;
    }
    if (!link_.StrayData.empty()) HeardStray();
}
