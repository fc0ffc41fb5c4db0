// The device record: the tool's image of the one transducer the main window works on — its
// identification, its configuration block byte for byte as read (and as it is written back),
// its last measurements and the flags by which the window's handlers know where they stand.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "device/protocol.h"

class QLineEdit;
class QPushButton;
class QComboBox;

constexpr int kBlockCapacity = 30;
constexpr int kMeasurementSize = 10;
// A block holds at least the fields up to the device number at offset 17.
constexpr int kBlockMinimum = 18;
// Device numbers are 0-based; the bus address is the number + 1 (1..32).
constexpr int32_t kMaxDeviceNumber = 31;

// Outcome of the value check of a setpoint text.
struct SetpointCheck {
    enum Result {
        Ok,          // code holds the setpoint code
        InputError,  // empty, misplaced comma or minus, a forbidden character, out of range
        NotANumber,  // passed the character checks but is not a number in comma-decimal form
    } result;
    int32_t code = 0;
};

// The refusal of a write or a save by a record without a whole, accepted read.
inline constexpr const char* kNoDeviceDataText =
    "Нет данных о приборе,\nпроизведите ввод информации с СОМ порта";

class TServClass {};

class TProgVEKClass : public TServClass {
  public:
    // Block transfer. Frames are whole replies (address, function, byte count, data, CRC);
    // nothing is read or written past the 30-byte block, the 10-byte area or the span given.
    uint8_t GetBlockLength() const { return buffer_[0]; }
    // Longer lengths are cut to the block's 30 bytes.
    void SetBlockLength(uint8_t n);
    void LoadBlock(std::span<const uint8_t> frame);
    void LoadMeasurements(std::span<const uint8_t> frame);
    void CopyBlockTo(std::span<uint8_t> payload) const;
    // The whole block at once (at most 30 bytes are taken).
    void SetBlock(std::span<const uint8_t> block);
    std::span<const uint8_t> Block() const { return {buffer_.data() + 1, GetBlockLength()}; }
    const std::array<uint8_t, kMeasurementSize>& MeasurementArea() const { return Measurements; }

    // Block fields. Channel and setpoint arguments are 1 or 2: a getter given another number
    // returns 0 and a setter changes nothing. Bit setters take 0 or 1, nibble setters 0..15;
    // each changes only its bit or nibble.
    int32_t GetScaleStart1() const { return BlockWord(0); }
    void SetScaleStart1(int32_t v) { SetBlockWord(0, v); }
    int32_t GetScaleEnd1() const { return BlockWord(2); }
    void SetScaleEnd1(int32_t v) { SetBlockWord(2, v); }
    int32_t GetAlarmType1() const { return BlockBit(4, 0); }
    void SetAlarmType1(int32_t v) { SetBlockBit(4, 0, v); }
    int32_t GetAlarmType2() const { return BlockBit(4, 1); }
    void SetAlarmType2(int32_t v) { SetBlockBit(4, 1, v); }
    int32_t GetBreakOutput(int32_t channel) const;
    void SetBreakOutput(int32_t v, int32_t channel);
    int32_t GetContactType(int32_t setpoint) const;
    void SetContactType(int32_t v, int32_t setpoint);
    int32_t GetNonPrivileged() const { return NonPrivileged; }
    void UpdateNonPrivileged() { NonPrivileged = BlockBit(4, 7); }
    int32_t GetSetpoint1() const { return BlockWord(5); }
    void SetSetpoint1(int32_t v) { SetBlockWord(5, v); }
    int32_t GetSetpoint2() const { return BlockWord(7); }
    void SetSetpoint2(int32_t v) { SetBlockWord(7, v); }
    int32_t GetCharacteristic(int32_t channel) const;
    void SetCharacteristic(int32_t v, int32_t channel);
    int32_t GetRangeStartBit(int32_t channel) const;
    void SetRangeStartBit(int32_t v, int32_t channel);
    int32_t GetScaleStart2() const { return BlockWord(11); }
    void SetScaleStart2(int32_t v) { SetBlockWord(11, v); }
    int32_t GetScaleEnd2() const { return BlockWord(13); }
    void SetScaleEnd2(int32_t v) { SetBlockWord(13, v); }
    int32_t GetStartTrim(int32_t channel) const;
    void SetStartTrim(int32_t v, int32_t channel);
    int32_t GetEndTrim(int32_t channel) const;
    void SetEndTrim(int32_t v, int32_t channel);
    int32_t GetDeviceNumberByte() const { return BlockByte(17); }
    void SetDeviceNumberByte(int32_t v) { BlockByte(17) = static_cast<uint8_t>(v); }

    // Measurement fields (words high byte first).
    int32_t GetResult1() const { return MeasurementWord(0); }
    int32_t GetAdc1() const { return MeasurementWord(3); }
    int32_t GetResult2() const { return MeasurementWord(5); }
    int32_t GetAdc2() const { return MeasurementWord(8); }
    int32_t GetStatus(int32_t channel) const;

    // Percent of the output range of a setpoint code.
    float SetpointPercent(int32_t code) const;

    // The value check of a setpoint edit's text (setpoint 1 or 2): the character checks, the
    // number with a comma as its decimal separator whatever the locale, and the input range
    // of the setpoint's channel (channel 1 for both setpoints of a ВЭК-01МЕ).
    SetpointCheck CheckSetpointText(std::u32string_view text, int32_t setpoint) const;

    // True when the block may be written back: a completed read of a served model, a whole
    // block that reaches the device number and came from the current device, and both device
    // numbers on the bus, the new one being the one the block carries.
    bool HoldsWritableBlock() const;

  private:
    uint8_t BlockByte(int offset) const { return buffer_[1 + offset]; }
    uint8_t& BlockByte(int offset) { return buffer_[1 + offset]; }
    int32_t BlockWord(int offset) const;
    void SetBlockWord(int offset, int32_t v);
    int32_t BlockBit(int offset, int bit) const { return (BlockByte(offset) >> bit) & 1; }
    void SetBlockBit(int offset, int bit, int32_t v);
    int32_t MeasurementWord(int offset) const;

    // Byte 0 is the block's length, bytes 1..30 the block.
    std::array<uint8_t, 1 + kBlockCapacity> buffer_{};
    std::array<uint8_t, kMeasurementSize> Measurements{};

  public:
    // The control that the last editing rule ran for; at most one is set.
    QLineEdit* LastEdit = nullptr;
    QPushButton* LastButton = nullptr;
    QComboBox* LastCombo = nullptr;

    int32_t DeviceNumber = 0;     // 0-based; the bus address is DeviceNumber + 1
    int32_t NewDeviceNumber = 0;  // taken over by the next successful write
    // The device number the block came from: the one it was read at, or the one the device
    // took with the block's write. A block goes back to that number only.
    int32_t BlockOrigin = -1;
    // The block as the device holds it, by the last read or confirmed write: what the
    // operator's changes are measured against. Empty after a failed read.
    std::vector<uint8_t> DeviceBlock;
    int32_t AccessLevel = 0;
    int32_t TypeCode = 0;  // 0: not identified
    int32_t Version = 0;
    int32_t NonPrivileged = 0;  // bit 7 of block offset 4 at the last read
    int32_t Changed = 0;
    int32_t DataRead = 0;
    int32_t LayoutReady = 0;
    float RangeStart1 = 0, RangeEnd1 = 0, RangeStart2 = 0, RangeEnd2 = 0;  // kPa
};
