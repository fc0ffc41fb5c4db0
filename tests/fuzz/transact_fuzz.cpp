// The transaction engine against a device that answers anything at all: TComPortClass::Transact
// on a scripted port whose replies come from the fuzz input, in no real time (fake clock).
//
// Input: function selector, device number byte (low 5 bits; bit 7 leaves the port closed),
// attempts byte (bits 0-1 header attempts, bits 2-3 body attempts, bits 4-6: the port fails
// at the purge after that many writes, 0 never), payload length (16 bits, low byte first) and
// the payload, then one chunk per request written: the bytes the device sends back (see
// InputReader::Chunk; an empty chunk or the end of the input is silence).
//
// Checked: every request on the line is the frame asked for; the result is one the link
// defines or the device's exception code; the retries stay within the attempt counts; a
// success holds a whole reply of the expected length with a right checksum from the address
// asked; nothing is written outside the reply buffer.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "input_reader.h"
#include "link/Comportclass.h"
#include "support/scripted_port.h"

namespace {

// The link's permitted codes and a few it must refuse.
constexpr uint8_t kFunctions[] = {1,  2,  3,  4,  5,  6,   14, 15, 17, 18,   66,
                                  67, 68, 69, 70, 71, 100, 0,  7,  16, 0x83, 255};

// The reply buffer with guard bytes on both sides.
struct GuardedReply {
    std::array<uint8_t, 64> before;
    ReplyBuffer reply;
    std::array<uint8_t, 64> after;
};
constexpr uint8_t kGuard = 0xA5;

bool Untouched(const std::array<uint8_t, 64>& guard) {
    return std::all_of(guard.begin(), guard.end(), [](uint8_t b) { return b == kGuard; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader in(data, size);
    const uint8_t function = kFunctions[in.Byte() % std::size(kFunctions)];
    const uint8_t numberByte = in.Byte();
    const int32_t deviceNumber = numberByte & 0x1F;
    const bool portClosed = numberByte & 0x80;
    const uint8_t attempts = in.Byte();
    const int32_t stage1 = attempts & 3;
    const int32_t stage2 = (attempts >> 2) & 3;
    const size_t failAfterWrites = (attempts >> 4) & 7;
    size_t payloadLength = in.Word();
    if (payloadLength > kMaxPayloadLength + 8) payloadLength %= kMaxPayloadLength + 9;
    std::vector<uint8_t> payload(payloadLength, 0);
    const auto given = in.Bytes(payloadLength);
    std::copy(given.begin(), given.end(), payload.begin());

    FakeClock clock;
    auto backend = std::make_unique<ScriptedBackend>();
    ScriptedBackend& line = *backend;
    line.clock = &clock;
    line.responder = [&](const Bytes&) {
        if (failAfterWrites != 0 && line.writes.size() == failAfterWrites) line.failPurge = true;
        const auto chunk = in.Chunk();
        return Bytes(chunk.begin(), chunk.end());
    };
    TComPort port(std::move(backend));
    ApplyComPort1Design(port);
    if (!portClosed) port.Open();
    TComPortClass link(port, clock);
    link.SetStage1Attempts(stage1);
    link.SetStage2Attempts(stage2);

    auto guarded = std::make_unique<GuardedReply>();
    guarded->before.fill(kGuard);
    guarded->reply.fill(kGuard);
    guarded->after.fill(kGuard);
    ReplyBuffer& reply = guarded->reply;

    const int32_t result = link.Transact(deviceNumber, function, payload, reply);

    FUZZ_CHECK(Untouched(guarded->before));
    FUZZ_CHECK(Untouched(guarded->after));

    if (!TComPortClass::IsPermittedFunction(function) || payloadLength > kMaxPayloadLength) {
        FUZZ_CHECK(result == lrBadFunction);
        FUZZ_CHECK(line.writes.empty());
        return 0;
    }
    if (portClosed) {
        FUZZ_CHECK(result == lrPortNotConnected);
        FUZZ_CHECK(line.writes.empty());
        return 0;
    }

    // Every write is the request: address (0 for a broadcast 70 with data), function, payload,
    // checksum.
    const uint8_t address = function == 70 && payloadLength > 0 ? 0 : deviceNumber + 1;
    for (const Bytes& w : line.writes) {
        FUZZ_CHECK(w.size() == payloadLength + 4);
        FUZZ_CHECK(w[0] == address && w[1] == function);
        FUZZ_CHECK(std::equal(payload.begin(), payload.end(), w.begin() + 2));
        FUZZ_CHECK(TComPortClass::ReplyCheckPasses(w.data(), static_cast<int32_t>(w.size())));
    }
    // A header failure costs one of stage1 attempts, a good header starts them afresh, a body
    // failure costs one of stage2: at most stage1 × stage2 requests in all.
    FUZZ_CHECK(!line.writes.empty());
    FUZZ_CHECK(line.writes.size() <=
               static_cast<size_t>(std::max(stage1, 1) * std::max(stage2, 1)));

    const bool expectsReply = function != 69 && function != 70;
    if (!expectsReply) {
        FUZZ_CHECK(result == lrOk);
        FUZZ_CHECK(line.writes.size() == 1);
        FUZZ_CHECK(std::all_of(reply.begin(), reply.end(), [](uint8_t b) { return b == kGuard; }));
        return 0;
    }

    if (result == lrPortFailed) {
        FUZZ_CHECK(failAfterWrites != 0 && line.writes.size() == failAfterWrites);
        FUZZ_CHECK(!port.Connected());
        return 0;
    }
    FUZZ_CHECK(port.Connected());

    const int32_t length = link.GetReplyLength();
    switch (result) {
        case lrOk:
            FUZZ_CHECK(length >= 4 && length <= kFrameAreaSize);
            FUZZ_CHECK(length == TComPortClass::ExpectedReplyLength(
                                     function, static_cast<int32_t>(payloadLength) + 4, reply[2]));
            FUZZ_CHECK(TComPortClass::ReplyCheckPasses(reply.data(), length));
            FUZZ_CHECK(reply[0] == deviceNumber + 1);
            // The request's code, or its exception form with the code 0 read as a reply.
            FUZZ_CHECK(reply[1] == function || (reply[1] == (function | 0x80) && reply[2] == 0));
            break;
        case lrNoReply:
        case lrShortReply:
        case lrReceiveError:
        case lrChecksumError:
            break;
        default:
            // The device's exception code from the header, marked from 0x80 on.
            FUZZ_CHECK(result == DeviceExceptionResult(reply[2]) && reply[2] != 0);
            FUZZ_CHECK(reply[0] == deviceNumber + 1 && reply[1] == (function | 0x80));
            FUZZ_CHECK(length == 5);
            break;
    }
    return 0;
}
