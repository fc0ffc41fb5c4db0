#include "Obrnastr.h"

#include <algorithm>

#include "conversions.h"

namespace {

bool ValidChannel(int32_t n) {
    return n == 1 || n == 2;
}

}  // namespace

void TProgVEKClass::SetBlockLength(uint8_t n) {
    buffer_[0] = std::min<uint8_t>(n, kBlockCapacity);
}

void TProgVEKClass::LoadBlock(std::span<const uint8_t> frame) {
    if (frame.size() <= 3) return;
    size_t n = std::min<size_t>(GetBlockLength(), frame.size() - 3);
    std::copy_n(frame.begin() + 3, n, buffer_.begin() + 1);
}

void TProgVEKClass::LoadMeasurements(std::span<const uint8_t> frame) {
    if (frame.size() <= 3) return;
    size_t n = std::min<size_t>(kMeasurementSize, frame.size() - 3);
    std::copy_n(frame.begin() + 3, n, Measurements.begin());
}

void TProgVEKClass::CopyBlockTo(std::span<uint8_t> payload) const {
    size_t n = std::min<size_t>(GetBlockLength(), payload.size());
    std::copy_n(buffer_.begin() + 1, n, payload.begin());
}

int32_t TProgVEKClass::BlockWord(int offset) const {
    return static_cast<int16_t>(BlockByte(offset) | (BlockByte(offset + 1) << 8));
}

void TProgVEKClass::SetBlockWord(int offset, int32_t v) {
    BlockByte(offset) = static_cast<uint8_t>(v & 0xFF);
    BlockByte(offset + 1) = static_cast<uint8_t>((v >> 8) & 0xFF);
}

void TProgVEKClass::SetBlockBit(int offset, int bit, int32_t v) {
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    BlockByte(offset) = static_cast<uint8_t>((BlockByte(offset) & ~mask) | ((v & 1) << bit));
}

int32_t TProgVEKClass::MeasurementWord(int offset) const {
    return static_cast<int16_t>((Measurements[offset] << 8) | Measurements[offset + 1]);
}

int32_t TProgVEKClass::GetBreakOutput(int32_t channel) const {
    return ValidChannel(channel) ? BlockBit(4, channel == 1 ? 2 : 5) : 0;
}

void TProgVEKClass::SetBreakOutput(int32_t v, int32_t channel) {
    if (ValidChannel(channel)) SetBlockBit(4, channel == 1 ? 2 : 5, v);
}

int32_t TProgVEKClass::GetContactType(int32_t setpoint) const {
    return ValidChannel(setpoint) ? BlockBit(4, setpoint == 1 ? 3 : 4) : 0;
}

void TProgVEKClass::SetContactType(int32_t v, int32_t setpoint) {
    if (ValidChannel(setpoint)) SetBlockBit(4, setpoint == 1 ? 3 : 4, v);
}

int32_t TProgVEKClass::GetCharacteristic(int32_t channel) const {
    return ValidChannel(channel) ? BlockBit(9, channel - 1) : 0;
}

void TProgVEKClass::SetCharacteristic(int32_t v, int32_t channel) {
    if (ValidChannel(channel)) SetBlockBit(9, channel - 1, v);
}

int32_t TProgVEKClass::GetRangeStartBit(int32_t channel) const {
    return ValidChannel(channel) ? BlockBit(10, channel - 1) : 0;
}

void TProgVEKClass::SetRangeStartBit(int32_t v, int32_t channel) {
    if (ValidChannel(channel)) SetBlockBit(10, channel - 1, v);
}

// Trims: high nibble start of scale, low nibble end of scale; offset 15 channel 1, 16 channel 2.
int32_t TProgVEKClass::GetStartTrim(int32_t channel) const {
    return ValidChannel(channel) ? BlockByte(14 + channel) >> 4 : 0;
}

void TProgVEKClass::SetStartTrim(int32_t v, int32_t channel) {
    if (!ValidChannel(channel)) return;
    uint8_t& b = BlockByte(14 + channel);
    b = static_cast<uint8_t>((b & 0x0F) | ((v & 0x0F) << 4));
}

int32_t TProgVEKClass::GetEndTrim(int32_t channel) const {
    return ValidChannel(channel) ? BlockByte(14 + channel) & 0x0F : 0;
}

void TProgVEKClass::SetEndTrim(int32_t v, int32_t channel) {
    if (!ValidChannel(channel)) return;
    uint8_t& b = BlockByte(14 + channel);
    b = static_cast<uint8_t>((b & 0xF0) | (v & 0x0F));
}

int32_t TProgVEKClass::GetStatus(int32_t channel) const {
    return ValidChannel(channel) ? Measurements[channel == 1 ? 2 : 7] : 0;
}

float TProgVEKClass::SetpointPercent(int32_t code) const {
    return SetpointPercentOf(code);
}
