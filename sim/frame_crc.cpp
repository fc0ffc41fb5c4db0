#include "frame_crc.h"

#include <array>

namespace vsim {

namespace {

// A byte-at-a-time table, as the device firmware keeps it.
constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        uint16_t value = static_cast<uint16_t>(n);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? static_cast<uint16_t>((value >> 1) ^ 0xA001u)
                                 : static_cast<uint16_t>(value >> 1);
        table[n] = value;
    }
    return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

uint16_t FrameCrc(const uint8_t* bytes, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ bytes[i]) & 0xFFu]);
    return crc;
}

void AppendCrc(std::vector<uint8_t>& frame) {
    const uint16_t crc = FrameCrc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool FrameCrcValid(const uint8_t* frame, size_t length) {
    if (length < 4) return false;
    const uint16_t crc = FrameCrc(frame, length - 2);
    return frame[length - 2] == (crc & 0xFFu) && frame[length - 1] == (crc >> 8);
}

}  // namespace vsim
