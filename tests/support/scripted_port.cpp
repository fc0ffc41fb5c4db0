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
        input.insert(input.end(), reply.begin(), reply.end());
    }
    return count;
}

int ScriptedBackend::Read(uint8_t* buffer, int count) {
    int n = 0;
    while (n < count && !input.empty()) {
        buffer[n++] = input.front();
        input.pop_front();
    }
    if (clock && n < count) {
        // A short read ends by a time-out: 100 ms after the last byte, or the total time.
        clock->Advance(n > 0 ? lastTimeouts.ReadIntervalTimeout
                             : int64_t{lastTimeouts.ReadTotalTimeoutMultiplier} * count +
                                   lastTimeouts.ReadTotalTimeoutConstant);
    }
    return n;
}

Bytes WithCrc(Bytes frame) {
    uint16_t crc = TComPortClass::Crc16(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}
