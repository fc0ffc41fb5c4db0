#include "device/Obrnastr.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "device/conversions.h"

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

void TProgVEKClass::SetBlock(std::span<const uint8_t> block) {
    SetBlockLength(static_cast<uint8_t>(std::min<size_t>(block.size(), kBlockCapacity)));
    std::copy_n(block.begin(), GetBlockLength(), buffer_.begin() + 1);
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

namespace {

// A decimal number with a comma as the separator: an optional leading minus, digits, and an
// optional comma with more digits; at least one digit in all.
std::optional<float> CommaDecimal(std::u32string_view text) {
    size_t i = !text.empty() && text[0] == U'-' ? 1 : 0;
    double value = 0, scale = 1;
    bool digits = false, fraction = false;
    for (; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c >= U'0' && c <= U'9') {
            digits = true;
            if (fraction) {
                scale /= 10;
                value += (c - U'0') * scale;
            } else {
                value = value * 10 + (c - U'0');
            }
        } else if (c == U',' && !fraction) {
            fraction = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    return static_cast<float>(text[0] == U'-' ? -value : value);
}

}  // namespace

SetpointCheck TProgVEKClass::CheckSetpointText(std::u32string_view text, int32_t setpoint) const {
    const SetpointCheck inputError{SetpointCheck::InputError};
    if (text.empty()) return inputError;
    // The character checks look at the first 7 characters only.
    const std::u32string_view head = text.substr(0, 7);
    const auto commas = std::count(head.begin(), head.end(), U',');
    if (commas > 1 || (commas == 1 && text.back() == U',')) return inputError;
    if (head.find_first_of(U"бБ?") != std::u32string_view::npos) return inputError;
    const auto minuses = std::count(head.begin(), head.end(), U'-');
    if (minuses > 1 || (minuses == 1 && head[0] != U'-') || text == U"-") return inputError;

    const std::optional<float> number = CommaDecimal(text);
    if (!number) return {SetpointCheck::NotANumber};
    const bool channel2 = setpoint == 2 && TypeCode == kTypeVek02;
    if (TypeCode == kTypeVek01 || TypeCode == kTypeVek02) {
        const float start = channel2 ? RangeStart2 : RangeStart1;
        const float end = channel2 ? RangeEnd2 : RangeEnd1;
        if (*number > end || *number < start) return inputError;
    }
    const long double code = std::trunc(SetpointCodeUnits(*number));
    // Without bounds (a model that is not served) a text may ask for more than a code holds.
    if (std::fabs(code) > 2'000'000'000.0L) return inputError;
    return {SetpointCheck::Ok, static_cast<int32_t>(code)};
}

bool TProgVEKClass::HoldsWritableBlock() const {
    auto onBus = [](int32_t number) { return number >= 0 && number <= kMaxDeviceNumber; };
    return DataRead == 1 && (TypeCode == kTypeVek01 || TypeCode == kTypeVek02) &&
           GetBlockLength() >= kBlockMinimum && onBus(DeviceNumber) && onBus(NewDeviceNumber) &&
           BlockOrigin == DeviceNumber && GetDeviceNumberByte() == NewDeviceNumber;
}
