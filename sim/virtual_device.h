// One simulated transducer as it sits on the line: its identity, its configuration block, its
// measuring channels fed by a simulated input pressure, and the answers it gives to the
// requests addressed to it. Everything here is seen from the device's side of the line.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace vsim {

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

// Type codes reported in the identification reply.
enum DeviceType : uint8_t {
    kTypeKsvl = 100,
    kTypeRunTs = 101,
    kTypeRunTp = 102,
    kTypeLsta = 103,
    kTypeUnsupported = 104,
    kTypeVek01 = 105,  // one measuring channel
    kTypeVek02 = 106,  // two measuring channels
    kTypeUndetermined = 255,
};

// Configuration block: offsets of the device's own fields. Words are low byte first.
namespace blk {
constexpr size_t kScaleStart1 = 0;
constexpr size_t kScaleEnd1 = 2;
constexpr size_t kFlags = 4;
constexpr size_t kSetpoint1 = 5;
constexpr size_t kSetpoint2 = 7;
constexpr size_t kCharacteristic = 9;
constexpr size_t kRangeStart = 10;
constexpr size_t kScaleStart2 = 11;
constexpr size_t kScaleEnd2 = 13;
constexpr size_t kTrim1 = 15;
constexpr size_t kTrim2 = 16;
constexpr size_t kNumber = 17;  // the device's own 0-based number; it answers at this + 1

// Bits of the flags byte.
constexpr uint8_t kAlarmHigh1 = 0x01;
constexpr uint8_t kAlarmHigh2 = 0x02;
constexpr uint8_t kBreakMax1 = 0x04;
constexpr uint8_t kContactNc1 = 0x08;
constexpr uint8_t kContactNc2 = 0x10;
constexpr uint8_t kBreakMax2 = 0x20;
constexpr uint8_t kNonPrivileged = 0x80;
}  // namespace blk

constexpr size_t kDefaultBlockLength = 22;
constexpr size_t kMinBlockLength = 18;
constexpr size_t kMaxBlockLength = 30;
// A counted reply carries at most 255 data bytes.
constexpr size_t kMaxLongBlockLength = 255;

// Status byte of a channel in the measurement area.
constexpr uint8_t kStatusBelowRange = 0x80;    // input below the sensor's range (line break)
constexpr uint8_t kStatusAboveRange = 0x40;    // input above the sensor's range
constexpr uint8_t kStatusBadScale = 0x20;      // scale-start and scale-end codes are equal
constexpr uint8_t kStatusCalibration = 0x10;   // calibration mode is on
constexpr uint8_t kStatusSetpointHigh = 0x02;  // result above a setpoint of alarm type H
constexpr uint8_t kStatusSetpointLow = 0x01;   // result below a setpoint of alarm type L

// The pressure sensor: a fixed straight line from kPa to ADC code. Codes outside
// [kAdcValidMin, kAdcValidMax] mean the input is outside the sensor's range; an open input
// line reads as code 0.
constexpr double kAdcAtZeroKpa = 4000.0;
constexpr double kAdcPerKpa = 200.0;
constexpr int kAdcValidMin = 2000;   // -10 kPa
constexpr int kAdcValidMax = 30000;  // 130 kPa
constexpr int kAdcCeiling = 32767;

// Output code units: 0..16383 is 4..20 mA. On an input error the output goes to the state the
// flags choose: 3.6 mA or 22 mA.
constexpr int kOutputFullScale = 16383;
constexpr int kBreakOutputMin = -410;
constexpr int kBreakOutputMax = 18431;

// Faults the device (or its line driver) can be told to show.
struct DeviceFaults {
    bool silent = false;         // answers nothing, does nothing
    int dropEvery = 0;           // every Nth reply is lost (0: none)
    int shortLength = -1;        // only the first N bytes of each reply go out (-1: whole)
    bool badCrc = false;         // the reply's checksum is wrong
    int foreignFunction = -1;    // the reply carries this function code (-1: off, 256: derived)
    int exceptionCode = -1;      // every request is answered with this exception (-1: off)
    int splitGapMs = 0;          // the reply pauses this long in the middle (0: off)
    int splitAt = 0;             // ...after this many bytes (0: half the reply)
    int typeAfterWrite = -1;     // the next block write changes the type code to this
    int versionAfterWrite = -1;  // ...and the version to this
    int longBlock = 0;           // configuration replies are padded to this many bytes (0: off)

    bool Any() const;
};

struct Measurement {
    std::array<int16_t, 2> result{};
    std::array<uint8_t, 2> status{};
    std::array<int16_t, 2> adc{};
};

class VirtualDevice {
  public:
    // A device answering at bus address `address` (1..32) with a plausible calibrated block
    // in privileged mode.
    VirtualDevice(int address, uint8_t type, uint8_t version = 1);

    uint8_t Type() const { return type_; }
    void SetType(uint8_t type) { type_ = type; }
    uint8_t Version() const { return version_; }
    void SetVersion(uint8_t version) { version_ = version; }
    // The identification byte between version and type.
    uint8_t OwnByte() const { return ownByte_; }
    void SetOwnByte(uint8_t value) { ownByte_ = value; }
    int Channels() const { return type_ == kTypeVek01 ? 1 : 2; }

    // The bus address the device answers at now: while a stored block is being written it
    // keeps its old number, afterwards it takes the one at block offset 17.
    int BusAddress(SimTime now) const;

    const std::vector<uint8_t>& Block() const { return block_; }
    // Changes the length (18..30), keeping the leading bytes and filling new ones with 0.
    bool SetBlockLength(size_t length);
    bool Privileged() const { return (block_[blk::kFlags] & blk::kNonPrivileged) == 0; }
    void SetPrivileged(bool privileged);
    int16_t Word(size_t offset) const;
    void SetWord(size_t offset, int value);
    void SetByte(size_t offset, uint8_t value) { block_.at(offset) = value; }
    void SetBit(size_t offset, uint8_t mask, bool on);

    // Input pressure of channel 1 or 2 in kPa; a line break has no pressure.
    void SetPressure(int channel, double kPa);
    void SetLineBreak(int channel);
    std::optional<double> Pressure(int channel) const;
    // Amplitude of the ADC noise in codes (uniform, ±amplitude).
    void SetNoise(int amplitude) { noise_ = amplitude < 0 ? 0 : amplitude; }
    int Noise() const { return noise_; }

    // The noiseless code of the sensor for a pressure.
    static int AdcForPressure(double kPa);
    Measurement Measure();
    // Measurements sent as given instead of the model's, until cleared: exact results and
    // status bytes for tests and demonstrations.
    std::optional<Measurement> fixedMeasurement;

    // The 10-byte measurement area, words high byte first.
    std::array<uint8_t, 10> MeasurementArea();

    bool CalibrationMode() const { return calibration_; }
    bool Busy(SimTime now) const { return now < busyUntil_; }
    void SetBusyTime(std::chrono::milliseconds time) { busyTime_ = time; }
    std::chrono::milliseconds BusyTime() const { return busyTime_; }
    // A block has been stored and no confirmation (14) has come since.
    bool AwaitingConfirmation() const { return awaitingConfirmation_; }
    int BlocksStored() const { return blocksStored_; }

    // Answers a request frame addressed to this device whose checksum is right: the reply
    // frame with its checksum, or nothing (a block write is never answered).
    std::optional<std::vector<uint8_t>> Answer(std::span<const uint8_t> request, SimTime now);

    DeviceFaults faults;

  private:
    std::vector<uint8_t> Exception(uint8_t function, uint8_t code, SimTime now) const;
    std::vector<uint8_t> Counted(uint8_t function, std::span<const uint8_t> data,
                                 SimTime now) const;
    void StoreBlock(std::span<const uint8_t> block, SimTime now);
    int16_t ReadAdc(int channel);
    int16_t Result(int channel, int adc, uint8_t& status) const;

    uint8_t type_;
    uint8_t version_;
    uint8_t ownByte_ = 0xFF;
    std::vector<uint8_t> block_;
    std::array<std::optional<double>, 2> pressure_{};
    int noise_ = 2;
    std::minstd_rand rng_;
    bool calibration_ = false;
    bool awaitingConfirmation_ = false;
    int blocksStored_ = 0;
    int numberWhileBusy_ = 0;
    SimTime busyUntil_ = SimTime::min();
    std::chrono::milliseconds busyTime_{1000};
};

}  // namespace vsim
