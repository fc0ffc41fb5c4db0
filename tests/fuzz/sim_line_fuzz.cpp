// The simulator's side of the line: VirtualLine::Process (and through it each device's
// Answer) on any frame, with the faults the simulator's control can set, on the demonstration
// line (1: ВЭК-02МЕ, 2: ВЭК-01МЕ, 5: КСВЛ).
//
// Input: records until the end. A record is a control byte and a chunk (InputReader::Chunk):
//   control bit 0: the chunk is a frame body and gets its checksum appended, else it goes
//                  to the line as it is;
//   bits 1-3:      time that passes before the frame (0, 1, 10, 100, 500, 1000, 2000, 5000 ms);
//   bit 7:         instead of a frame, the chunk sets a fault or the block length of a device:
//                  device index, kind, value.
//
// Checked: a reply, when there is one, comes from the address asked, is never empty, has a
// right checksum and the length of its kind (unless a fault is set that spoils exactly
// that), a split lies inside the reply; every device keeps a block of 18..30 bytes.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "frame_crc.h"
#include "input_reader.h"
#include "virtual_line.h"

namespace {

using namespace std::chrono_literals;
using vsim::DeviceFaults;

constexpr int kStepMs[] = {0, 1, 10, 100, 500, 1000, 2000, 5000};

// Sets one fault as the simulator's "fault" command would, within the ranges that command
// takes.
void SetFault(vsim::VirtualDevice& d, uint8_t kind, uint16_t value) {
    DeviceFaults& f = d.faults;
    switch (kind % 13) {
        case 0:
            f = DeviceFaults{};
            break;
        case 1:
            f.silent = value & 1;
            break;
        case 2:
            f.dropEvery = value % 8;
            break;
        case 3:
            f.shortLength = value % 40;
            break;
        case 4:
            f.badCrc = value & 1;
            break;
        case 5:
            f.foreignFunction = value % 257;  // 256: derived from the request
            break;
        case 6:
            f.exceptionCode = value % 256;
            break;
        case 7:
            f.splitGapMs = 1 + value % 200;
            f.splitAt = (value >> 8) % 40;
            break;
        case 8:
            f.typeAfterWrite = value & 0xFF;
            break;
        case 9:
            f.versionAfterWrite = value & 0xFF;
            break;
        case 10:
            f.longBlock = value % (vsim::kMaxLongBlockLength + 1);
            break;
        case 11:
            d.SetBlockLength(value % 40);  // refused outside 18..30
            break;
        case 12:
            d.SetPrivileged(value & 1);
            break;
    }
}

void CheckReply(const std::vector<uint8_t>& request, const vsim::WireReply& reply,
                const DeviceFaults& f) {
    const std::vector<uint8_t>& bytes = reply.bytes;
    FUZZ_CHECK(!bytes.empty());
    FUZZ_CHECK(bytes.size() <= std::max<size_t>(request.size(), 3 + 255 + 2));
    if (reply.splitGapMs > 0) FUZZ_CHECK(reply.splitAt >= 1 && reply.splitAt < bytes.size());
    if (f.shortLength >= 0) FUZZ_CHECK(bytes.size() <= static_cast<size_t>(f.shortLength));
    FUZZ_CHECK(bytes[0] == request[0]);
    if (f.shortLength >= 0 || f.badCrc) return;

    FUZZ_CHECK(vsim::FrameCrcValid(bytes.data(), bytes.size()));
    const uint8_t function = request[1];
    if (f.foreignFunction == 256) {
        FUZZ_CHECK(bytes[1] != function && bytes[1] != (function | 0x80));
    } else if (f.foreignFunction >= 0) {
        FUZZ_CHECK(bytes[1] == f.foreignFunction);
    }
    if (f.foreignFunction >= 0) {
        // The code no longer tells the kind: the length must be one of them.
        FUZZ_CHECK(bytes.size() == 5 || bytes.size() == bytes[2] + 5u ||
                   ((function == 5 || function == 14) && bytes.size() == request.size()));
    } else if (bytes[1] == function && !(function & 0x80)) {
        FUZZ_CHECK(function == 5 || function == 14 || function == 17 || function == 68 ||
                   function == 71);
        if (function == 5 || function == 14) {
            FUZZ_CHECK(bytes == request);  // the echo
        } else {
            FUZZ_CHECK(bytes.size() == bytes[2] + 5u);  // counted: the count gives the length
        }
    } else {
        FUZZ_CHECK(bytes[1] == (function | 0x80) && bytes.size() == 5);
        if (f.exceptionCode >= 0) FUZZ_CHECK(bytes[2] == f.exceptionCode);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader in(data, size);
    vsim::VirtualLine line;
    // A time line of its own: hours after the clock's origin, moved only by the input.
    vsim::SimTime now = vsim::SimTime{} + 10h;
    line.Add(1, vsim::kTypeVek02, 1, now);
    line.Add(2, vsim::kTypeVek01, 1, now);
    line.Add(5, vsim::kTypeKsvl, 1, now);
    for (const auto& d : line.Devices())
        d->SetNoise(0);

    while (!in.AtEnd()) {
        const uint8_t control = in.Byte();
        const auto chunk = in.Chunk();
        now += std::chrono::milliseconds(kStepMs[(control >> 1) & 7]);
        if (control & 0x80) {
            if (chunk.size() < 3) continue;
            const auto& devices = line.Devices();
            SetFault(*devices[chunk[0] % devices.size()], chunk[1],
                     static_cast<uint16_t>(chunk[2] | (chunk.size() > 3 ? chunk[3] << 8 : 0)));
            continue;
        }
        std::vector<uint8_t> frame(chunk.begin(), chunk.end());
        if (control & 1) vsim::AppendCrc(frame);

        // The faults of the device the frame reaches, as they were when it answered.
        DeviceFaults faults;
        if (frame.size() >= 1) {
            if (vsim::VirtualDevice* d = line.Find(frame[0], now)) faults = d->faults;
        }
        const auto reply = line.Process(frame, now);
        if (reply) {
            FUZZ_CHECK(frame.size() >= 4 && vsim::FrameCrcValid(frame.data(), frame.size()));
            CheckReply(frame, *reply, faults);
        }
        for (const auto& d : line.Devices()) {
            FUZZ_CHECK(d->Block().size() >= vsim::kMinBlockLength &&
                       d->Block().size() <= vsim::kMaxBlockLength);
        }
    }
    return 0;
}
