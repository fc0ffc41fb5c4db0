#include "virtual_device.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "frame_crc.h"

namespace vsim {

namespace {

constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalAddress = 2;
constexpr uint8_t kIllegalValue = 3;
constexpr uint8_t kBusy = 6;

// Fields that only a device in privileged mode lets a block write change: the scale codes,
// characteristic, input range and output trims.
constexpr size_t kPrivilegedOffsets[] = {
    blk::kScaleStart1,    blk::kScaleStart1 + 1, blk::kScaleEnd1,   blk::kScaleEnd1 + 1,
    blk::kCharacteristic, blk::kRangeStart,      blk::kScaleStart2, blk::kScaleStart2 + 1,
    blk::kScaleEnd2,      blk::kScaleEnd2 + 1,   blk::kTrim1,       blk::kTrim2};

}  // namespace

bool DeviceFaults::Any() const {
    return silent || dropEvery > 0 || shortLength >= 0 || badCrc || foreignFunction >= 0 ||
           exceptionCode >= 0 || splitGapMs > 0 || typeAfterWrite >= 0 || versionAfterWrite >= 0 ||
           longBlock > 0;
}

VirtualDevice::VirtualDevice(int address, uint8_t type, uint8_t version)
    : type_(type),
      version_(version),
      block_(kDefaultBlockLength, 0),
      rng_(static_cast<unsigned>(address) * 7919u + type) {
    // Channel 1: 20..100 kPa, linear; channel 2: 0..100 kPa, square root. The scale codes are
    // those of a calibration a few codes off the sensor's nominal line.
    SetWord(blk::kScaleStart1, AdcForPressure(20) - 4);
    SetWord(blk::kScaleEnd1, AdcForPressure(100) + 10);
    SetWord(blk::kScaleStart2, AdcForPressure(0) + 3);
    SetWord(blk::kScaleEnd2, AdcForPressure(100) - 7);
    block_[blk::kFlags] = blk::kAlarmHigh1 | blk::kContactNc2 | blk::kBreakMax2;
    SetWord(blk::kSetpoint1, 13107);  // 80 %
    SetWord(blk::kSetpoint2, 1638);   // 10 %
    block_[blk::kCharacteristic] = 0x02;
    block_[blk::kRangeStart] = 0x02;
    block_[blk::kTrim1] = 0x00;
    block_[blk::kTrim2] = 0x21;
    block_[blk::kNumber] = static_cast<uint8_t>(address - 1);
    // Bytes past the known fields belong to the firmware and come back as they went out.
    const uint8_t tail[] = {0x01, 0x5A, 0x00, 0xA5};
    std::copy(std::begin(tail), std::end(tail), block_.begin() + 18);
    numberWhileBusy_ = address - 1;
    pressure_ = {60.0, 25.0};
}

int VirtualDevice::BusAddress(SimTime now) const {
    const int number = Busy(now) ? numberWhileBusy_ : block_[blk::kNumber];
    return (number + 1) & 0xFF;
}

bool VirtualDevice::SetBlockLength(size_t length) {
    if (length < kMinBlockLength || length > kMaxBlockLength) return false;
    block_.resize(length, 0);
    return true;
}

void VirtualDevice::SetPrivileged(bool privileged) {
    SetBit(blk::kFlags, blk::kNonPrivileged, !privileged);
}

int16_t VirtualDevice::Word(size_t offset) const {
    return static_cast<int16_t>(block_.at(offset) | (block_.at(offset + 1) << 8));
}

void VirtualDevice::SetWord(size_t offset, int value) {
    block_.at(offset) = static_cast<uint8_t>(value & 0xFF);
    block_.at(offset + 1) = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void VirtualDevice::SetBit(size_t offset, uint8_t mask, bool on) {
    uint8_t& byte = block_.at(offset);
    byte = on ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
}

void VirtualDevice::SetPressure(int channel, double kPa) {
    if ((channel == 1 || channel == 2) && std::isfinite(kPa)) pressure_[channel - 1] = kPa;
}

void VirtualDevice::SetLineBreak(int channel) {
    if (channel == 1 || channel == 2) pressure_[channel - 1].reset();
}

std::optional<double> VirtualDevice::Pressure(int channel) const {
    if (channel != 1 && channel != 2) return std::nullopt;
    return pressure_[channel - 1];
}

int VirtualDevice::AdcForPressure(double kPa) {
    const double code = std::round(kAdcAtZeroKpa + kAdcPerKpa * kPa);
    return static_cast<int>(std::clamp(code, 0.0, static_cast<double>(kAdcCeiling)));
}

int16_t VirtualDevice::ReadAdc(int channel) {
    const auto& pressure = pressure_[channel - 1];
    if (!pressure) return 0;  // open input line: no current
    int code = AdcForPressure(*pressure);
    if (noise_ > 0) code += std::uniform_int_distribution<int>(-noise_, noise_)(rng_);
    return static_cast<int16_t>(std::clamp(code, 0, kAdcCeiling));
}

// The result in output code units from the ADC code through the channel's scale codes and
// characteristic; f is the fraction of the input range: linear f × 16383, square root
// 128 × √(f × 16383). Below the start of the range the square root is not taken and the
// result goes on linearly below zero.
int16_t VirtualDevice::Result(int channel, int adc, uint8_t& status) const {
    if (adc < kAdcValidMin) status |= kStatusBelowRange;
    if (adc > kAdcValidMax) status |= kStatusAboveRange;
    const int start = Word(channel == 1 ? blk::kScaleStart1 : blk::kScaleStart2);
    const int end = Word(channel == 1 ? blk::kScaleEnd1 : blk::kScaleEnd2);
    if (start == end) status |= kStatusBadScale;
    if (status & (kStatusBelowRange | kStatusAboveRange | kStatusBadScale)) {
        const uint8_t breakBit = channel == 1 ? blk::kBreakMax1 : blk::kBreakMax2;
        return (block_[blk::kFlags] & breakBit) ? kBreakOutputMax : kBreakOutputMin;
    }
    const double f = static_cast<double>(adc - start) / static_cast<double>(end - start);
    const bool squareRoot = block_[blk::kCharacteristic] & (channel == 1 ? 0x01 : 0x02);
    const double r =
        (squareRoot && f > 0) ? 128.0 * std::sqrt(f * kOutputFullScale) : f * kOutputFullScale;
    return static_cast<int16_t>(std::clamp(std::lround(r), -32768L, 32767L));
}

Measurement VirtualDevice::Measure() {
    Measurement m;
    for (int channel = 1; channel <= Channels(); ++channel) {
        const int16_t adc = ReadAdc(channel);
        m.adc[channel - 1] = adc;
        m.result[channel - 1] = Result(channel, adc, m.status[channel - 1]);
    }
    // Setpoint 1 watches channel 1; setpoint 2 watches channel 2, or channel 1 on a
    // one-channel device. Each setpoint's state goes into the status byte of its number.
    const uint8_t flags = block_[blk::kFlags];
    for (int setpoint = 1; setpoint <= 2; ++setpoint) {
        const int result = m.result[Channels() == 1 ? 0 : setpoint - 1];
        const int level = Word(setpoint == 1 ? blk::kSetpoint1 : blk::kSetpoint2);
        const bool high = flags & (setpoint == 1 ? blk::kAlarmHigh1 : blk::kAlarmHigh2);
        uint8_t& status = m.status[setpoint - 1];
        if (high && result > level) status |= kStatusSetpointHigh;
        if (!high && result < level) status |= kStatusSetpointLow;
    }
    if (calibration_) {
        m.status[0] |= kStatusCalibration;
        m.status[1] |= kStatusCalibration;
    }
    return m;
}

std::array<uint8_t, 10> VirtualDevice::MeasurementArea() {
    const Measurement m = fixedMeasurement ? *fixedMeasurement : Measure();
    std::array<uint8_t, 10> area{};
    for (int c = 0; c < 2; ++c) {
        uint8_t* p = area.data() + 5 * c;
        p[0] = static_cast<uint8_t>((m.result[c] >> 8) & 0xFF);
        p[1] = static_cast<uint8_t>(m.result[c] & 0xFF);
        p[2] = m.status[c];
        p[3] = static_cast<uint8_t>((m.adc[c] >> 8) & 0xFF);
        p[4] = static_cast<uint8_t>(m.adc[c] & 0xFF);
    }
    return area;
}

std::vector<uint8_t> VirtualDevice::Exception(uint8_t function, uint8_t code, SimTime now) const {
    std::vector<uint8_t> frame{static_cast<uint8_t>(BusAddress(now)),
                               static_cast<uint8_t>(function | 0x80), code};
    AppendCrc(frame);
    return frame;
}

std::vector<uint8_t> VirtualDevice::Counted(uint8_t function, std::span<const uint8_t> data,
                                            SimTime now) const {
    std::vector<uint8_t> frame(3 + data.size());
    frame[0] = static_cast<uint8_t>(BusAddress(now));
    frame[1] = function;
    frame[2] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    AppendCrc(frame);
    return frame;
}

void VirtualDevice::StoreBlock(std::span<const uint8_t> incoming, SimTime now) {
    std::vector<uint8_t> next(incoming.begin(), incoming.end());
    // The mode bit is the device's own; what the tool sends there is ignored.
    next[blk::kFlags] = static_cast<uint8_t>((next[blk::kFlags] & ~blk::kNonPrivileged) |
                                             (block_[blk::kFlags] & blk::kNonPrivileged));
    if (!Privileged()) {
        for (size_t offset : kPrivilegedOffsets)
            next[offset] = block_[offset];
    }
    numberWhileBusy_ = BusAddress(now) - 1;
    block_ = std::move(next);
    busyUntil_ = now + busyTime_;
    calibration_ = false;  // storing the block ends a calibration
    awaitingConfirmation_ = true;
    ++blocksStored_;
    if (faults.typeAfterWrite >= 0)
        type_ = static_cast<uint8_t>(std::exchange(faults.typeAfterWrite, -1));
    if (faults.versionAfterWrite >= 0)
        version_ = static_cast<uint8_t>(std::exchange(faults.versionAfterWrite, -1));
}

std::optional<std::vector<uint8_t>> VirtualDevice::Answer(std::span<const uint8_t> request,
                                                          SimTime now) {
    if (request.size() < 4) return std::nullopt;
    const uint8_t function = request[1];
    const auto payload = request.subspan(2, request.size() - 4);

    if (faults.exceptionCode >= 0)
        return Exception(function, static_cast<uint8_t>(faults.exceptionCode), now);
    if (Busy(now)) return Exception(function, kBusy, now);

    switch (function) {
        case 17: {
            const uint8_t id[] = {version_, ownByte_, type_};
            return Counted(function, id, now);
        }
        case 68: {
            std::vector<uint8_t> data = block_;
            if (faults.longBlock > static_cast<int>(data.size()))
                data.resize(static_cast<size_t>(faults.longBlock), 0);
            return Counted(function, data, now);
        }
        case 71: {
            if (payload.size() != 2) return Exception(function, kIllegalValue, now);
            if (payload[0] != 0x00 || payload[1] != 0x01)
                return Exception(function, kIllegalAddress, now);
            const auto area = MeasurementArea();
            return Counted(function, area, now);
        }
        case 69:
            // A block of another length than the device's own is not taken.
            if (payload.size() == block_.size()) StoreBlock(payload, now);
            return std::nullopt;
        case 14:
            awaitingConfirmation_ = false;
            return std::vector<uint8_t>(request.begin(), request.end());
        case 5: {
            if (payload.size() != 4) return Exception(function, kIllegalValue, now);
            if (payload[0] != 0x10 || payload[1] != 0x01)
                return Exception(function, kIllegalAddress, now);
            if (payload[2] == 0xFF && payload[3] == 0x00)
                calibration_ = true;
            else if (payload[2] == 0x00 && payload[3] == 0x00)
                calibration_ = false;
            else
                return Exception(function, kIllegalValue, now);
            return std::vector<uint8_t>(request.begin(), request.end());
        }
        default:
            return Exception(function, kIllegalFunction, now);
    }
}

}  // namespace vsim
