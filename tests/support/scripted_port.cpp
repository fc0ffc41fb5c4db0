#include "scripted_port.h"

#include <cerrno>

#include "link/Comportclass.h"

void ScriptedBackend::Open(const std::string& port) {
    calls.push_back("open " + port);
    if (failOn == "open") throw EComPort(CE_OpenFailed, ENOENT);
}

void ScriptedBackend::SetupBuffers(int32_t in, int32_t out) {
    calls.push_back("buffers " + std::to_string(in) + " " + std::to_string(out));
    if (failOn == "buffers") throw EComPort(CE_SetupComFailed, EINVAL);
}

void ScriptedBackend::SetControlBlock(const ComControlBlock& dcb) {
    calls.push_back("dcb " + std::to_string(dcb.BaudRate));
    lastControlBlock = dcb;
    if (failOn == "dcb") throw EComPort(CE_SetStateFailed, EINVAL);
}

void ScriptedBackend::SetTimeouts(const ComTimeoutValues& t) {
    calls.push_back("timeouts");
    lastTimeouts = t;
    if (failOn == "timeouts") throw EComPort(CE_SetTimeoutsFailed, EINVAL);
}

void ScriptedBackend::Purge(unsigned flags) {
    calls.push_back("purge " + std::to_string(flags));
    if (failPurge) throw EComPort(CE_PurgeFailed, EIO);
    if (flags & (kPurgeRxClear | kPurgeRxAbort)) input.clear();
}

void ScriptedBackend::Close() {
    calls.push_back("close");
}

int ScriptedBackend::Write(const uint8_t* buffer, int count) {
    Bytes request(buffer, buffer + count);
    writes.push_back(request);
    if (responder) {
        Bytes reply = responder(request);
        const int64_t delay = clock && replyDelayMs ? replyDelayMs(request) : 0;
        for (uint8_t b : reply) {
            if (delay > 0) {
                onTheWay.emplace_back(clock->NowNs() + delay * 1'000'000, b);
            } else {
                input.push_back(b);
            }
        }
    }
    return count;
}

void ScriptedBackend::Arrive() {
    while (!onTheWay.empty() && (!clock || onTheWay.front().first <= clock->NowNs())) {
        input.push_back(onTheWay.front().second);
        onTheWay.pop_front();
    }
}

int ScriptedBackend::Read(uint8_t* buffer, int count) {
    const ComTimeoutValues& t = lastTimeouts;
    // The Windows special cases: return at once with what has come, or wait up to the
    // constant for the first byte and return at once after it.
    const bool returnAtOnce = t.ReadIntervalTimeout == kMaxDword &&
                              t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool firstByteOnly = t.ReadIntervalTimeout == kMaxDword &&
                               t.ReadTotalTimeoutMultiplier == kMaxDword &&
                               t.ReadTotalTimeoutConstant > 0;
    const int64_t ms = 1'000'000;
    const int64_t start = clock ? clock->NowNs() : 0;
    const int64_t total = start + (firstByteOnly ? int64_t{t.ReadTotalTimeoutConstant}
                                                 : int64_t{t.ReadTotalTimeoutMultiplier} * count +
                                                       t.ReadTotalTimeoutConstant) *
                                      ms;
    int n = 0;
    int64_t lastByte = start;
    for (;;) {
        Arrive();
        while (n < count && !input.empty()) {
            buffer[n++] = input.front();
            input.pop_front();
            if (clock) lastByte = clock->NowNs();
        }
        if (n == count || !clock || returnAtOnce || (firstByteOnly && n > 0)) break;
        int64_t deadline = total;
        if (n > 0 && t.ReadIntervalTimeout != kMaxDword && t.ReadIntervalTimeout != 0) {
            deadline = std::min(deadline, lastByte + int64_t{t.ReadIntervalTimeout} * ms);
        }
        // A short read ends by a time-out, unless more comes before it.
        if (!onTheWay.empty() && onTheWay.front().first <= deadline) {
            clock->AdvanceTo(onTheWay.front().first);
            continue;
        }
        clock->AdvanceTo(deadline);
        break;
    }
    return n;
}

Bytes WithCrc(Bytes frame) {
    uint16_t crc = TComPortClass::Crc16(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}
