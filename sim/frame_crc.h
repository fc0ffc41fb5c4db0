// The frame checksum as the transducers compute it: CRC-16 with the reflected polynomial
// 0xA001 and the start value 0xFFFF, sent low byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vsim {

uint16_t FrameCrc(const uint8_t* bytes, size_t count);

// Appends the checksum to a frame body.
void AppendCrc(std::vector<uint8_t>& frame);

// True when the frame is at least 4 bytes long and ends in the checksum of the rest.
bool FrameCrcValid(const uint8_t* frame, size_t length);

}  // namespace vsim
