// The device record and the value conversions on whatever a device or the operator may hand
// them: blocks and measurement replies of any length, any field values, any setpoint text.
//
// Input: type code selector, DataRead, device number, new device number and block origin
// (signed bytes), the four input range ends (32-bit floats, low byte first), then operations
// until the end:
//   0 SetBlockLength(byte)          1 LoadBlock(chunk)        2 LoadMeasurements(chunk)
//   3 CopyBlockTo(span of byte%40)  4 a field setter: which, value (32 bits), channel/setpoint
//   5 CheckSetpointText(chunk as UTF-8, setpoint)
//   6 conversions: result (32 bits), characteristic, two floats, decimals, separator
//   7 new type code, DataRead, device numbers and block origin
// (the operation is the byte modulo 8; chunks as InputReader::Chunk).
//
// Checked after every operation: the block stays within its 30 bytes, every getter gives a
// value its field can hold (0 for a channel other than 1 or 2), a setter changes only its own
// bits and reads back, HoldsWritableBlock() only for a whole block whose device number is on
// the bus, CopyBlockTo writes only its span, the texts are plain fixed-point numbers of
// bounded length, and a setpoint text that passes holds nothing but digits, comma and minus.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "device/Obrnastr.h"
#include "device/conversions.h"
#include "input_reader.h"

namespace {

float Float(InputReader& in) {
    return std::bit_cast<float>(in.Long());
}

// The whole 30-byte block area, whatever the block's length.
std::array<uint8_t, kBlockCapacity> Area(TProgVEKClass& r) {
    const uint8_t length = r.GetBlockLength();
    r.SetBlockLength(kBlockCapacity);
    std::array<uint8_t, kBlockCapacity> area{};
    std::copy(r.Block().begin(), r.Block().end(), area.begin());
    r.SetBlockLength(length);
    return area;
}

int ChangedBits(const std::array<uint8_t, kBlockCapacity>& a,
                const std::array<uint8_t, kBlockCapacity>& b, int* bytes) {
    int bits = 0;
    *bytes = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int n = std::popcount(static_cast<unsigned>(a[i] ^ b[i]));
        bits += n;
        *bytes += n > 0;
    }
    return bits;
}

bool IsWord(int32_t v) {
    return v >= -32768 && v <= 32767;
}
bool IsBit(int32_t v) {
    return v == 0 || v == 1;
}

void CheckRecord(const TProgVEKClass& r) {
    const int length = r.GetBlockLength();
    FUZZ_CHECK(length <= kBlockCapacity);
    FUZZ_CHECK(r.Block().size() == static_cast<size_t>(length));
    for (int32_t v : {r.GetScaleStart1(), r.GetScaleEnd1(), r.GetSetpoint1(), r.GetSetpoint2(),
                      r.GetScaleStart2(), r.GetScaleEnd2(), r.GetResult1(), r.GetAdc1(),
                      r.GetResult2(), r.GetAdc2()}) {
        FUZZ_CHECK(IsWord(v));
    }
    FUZZ_CHECK(IsBit(r.GetAlarmType1()) && IsBit(r.GetAlarmType2()));
    FUZZ_CHECK(r.GetDeviceNumberByte() >= 0 && r.GetDeviceNumberByte() <= 255);
    for (int32_t channel : {-1, 0, 1, 2, 3}) {
        const bool valid = channel == 1 || channel == 2;
        for (int32_t v : {r.GetBreakOutput(channel), r.GetContactType(channel),
                          r.GetCharacteristic(channel), r.GetRangeStartBit(channel)}) {
            FUZZ_CHECK(IsBit(v) && (valid || v == 0));
        }
        for (int32_t v : {r.GetStartTrim(channel), r.GetEndTrim(channel)})
            FUZZ_CHECK(v >= 0 && v <= 15 && (valid || v == 0));
        const int32_t status = r.GetStatus(channel);
        FUZZ_CHECK(status >= 0 && status <= 255 && (valid || status == 0));
    }
    if (r.HoldsWritableBlock()) {
        FUZZ_CHECK(length >= kBlockMinimum && length <= kBlockCapacity);
        FUZZ_CHECK(r.Block()[17] <= kMaxDeviceNumber);
        FUZZ_CHECK(r.BlockOrigin == r.DeviceNumber);
    }
}

// One of the field setters with its getter; the value the getter must give back, and how
// much of the block the setter may change.
void SetField(TProgVEKClass& r, uint8_t which, int32_t v, int32_t channel) {
    using Set = void (TProgVEKClass::*)(int32_t);
    using Get = int32_t (TProgVEKClass::*)() const;
    using SetC = void (TProgVEKClass::*)(int32_t, int32_t);
    using GetC = int32_t (TProgVEKClass::*)(int32_t) const;
    struct Plain {
        Set set;
        Get get;
        int bits;  // 16: a word, 1: a bit, 8: a byte
    };
    struct Channelled {
        SetC set;
        GetC get;
        int bits;  // 1: a bit, 4: a nibble
    };
    static const Plain plain[] = {
        {&TProgVEKClass::SetScaleStart1, &TProgVEKClass::GetScaleStart1, 16},
        {&TProgVEKClass::SetScaleEnd1, &TProgVEKClass::GetScaleEnd1, 16},
        {&TProgVEKClass::SetSetpoint1, &TProgVEKClass::GetSetpoint1, 16},
        {&TProgVEKClass::SetSetpoint2, &TProgVEKClass::GetSetpoint2, 16},
        {&TProgVEKClass::SetScaleStart2, &TProgVEKClass::GetScaleStart2, 16},
        {&TProgVEKClass::SetScaleEnd2, &TProgVEKClass::GetScaleEnd2, 16},
        {&TProgVEKClass::SetAlarmType1, &TProgVEKClass::GetAlarmType1, 1},
        {&TProgVEKClass::SetAlarmType2, &TProgVEKClass::GetAlarmType2, 1},
        {&TProgVEKClass::SetDeviceNumberByte, &TProgVEKClass::GetDeviceNumberByte, 8},
    };
    static const Channelled channelled[] = {
        {&TProgVEKClass::SetBreakOutput, &TProgVEKClass::GetBreakOutput, 1},
        {&TProgVEKClass::SetContactType, &TProgVEKClass::GetContactType, 1},
        {&TProgVEKClass::SetCharacteristic, &TProgVEKClass::GetCharacteristic, 1},
        {&TProgVEKClass::SetRangeStartBit, &TProgVEKClass::GetRangeStartBit, 1},
        {&TProgVEKClass::SetStartTrim, &TProgVEKClass::GetStartTrim, 4},
        {&TProgVEKClass::SetEndTrim, &TProgVEKClass::GetEndTrim, 4},
    };
    auto expected = [v](int bits) -> int32_t {
        switch (bits) {
            case 16:
                return static_cast<int16_t>(v & 0xFFFF);
            case 8:
                return v & 0xFF;
            default:
                return v & ((1 << bits) - 1);
        }
    };

    const auto before = Area(r);
    int bits = 0;
    bool valid = true;
    which %= std::size(plain) + std::size(channelled);
    if (which < std::size(plain)) {
        const Plain& f = plain[which];
        (r.*f.set)(v);
        FUZZ_CHECK((r.*f.get)() == expected(f.bits));
        bits = f.bits;
    } else {
        const Channelled& f = channelled[which - std::size(plain)];
        (r.*f.set)(v, channel);
        valid = channel == 1 || channel == 2;
        if (valid) FUZZ_CHECK((r.*f.get)(channel) == expected(f.bits));
        bits = f.bits;
    }
    int bytes = 0;
    const int changed = ChangedBits(before, Area(r), &bytes);
    if (!valid) {
        FUZZ_CHECK(changed == 0);
    } else {
        FUZZ_CHECK(changed <= bits && bytes <= (bits == 16 ? 2 : 1));
    }
}

// A fixed-point text: an optional minus, digits, and when decimals > 0 the separator and that
// many digits; "inf" and "nan" for the values that are not numbers. No minus on zero.
void CheckFixed(const std::string& text, int decimals, std::string_view separator) {
    FUZZ_CHECK(!text.empty() && text.size() <= 64 + separator.size());
    std::string_view t = text;
    const bool minus = t.front() == '-';
    if (minus) t.remove_prefix(1);
    if (t == "inf" || t == "nan") return;
    const size_t point = decimals > 0 && !separator.empty() ? t.find(separator) : t.npos;
    std::string digits(t.substr(0, point));
    if (decimals > 0 && !separator.empty()) {
        FUZZ_CHECK(point != t.npos);
        const std::string_view fraction = t.substr(point + separator.size());
        FUZZ_CHECK(fraction.size() == static_cast<size_t>(decimals));
        digits += fraction;
    } else if (decimals > 0) {
        FUZZ_CHECK(t.size() > static_cast<size_t>(decimals));
    }
    FUZZ_CHECK(!digits.empty());
    FUZZ_CHECK(
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }));
    if (minus) FUZZ_CHECK(digits.find_first_not_of('0') != std::string::npos);
}

std::u32string DecodeUtf8(std::span<const uint8_t> bytes) {
    std::u32string out;
    for (size_t i = 0; i < bytes.size();) {
        const uint8_t b = bytes[i];
        const size_t n = b >= 0xF0 && b < 0xF8 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (n == 1 || i + n > bytes.size()) {
            out += static_cast<char32_t>(b);  // a stray byte stands for itself
            ++i;
            continue;
        }
        char32_t c = b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k)
            c = (c << 6) | (bytes[i + k] & 0x3F);
        out += c;
        i += n;
    }
    return out;
}

void NewIdentity(TProgVEKClass& r, InputReader& in) {
    static const int32_t types[] = {0, kTypeVek01, kTypeVek02, kTypeUndetermined, 100};
    const uint8_t t = in.Byte();
    r.TypeCode = t < 0xF0 ? types[t % std::size(types)] : t;
    r.DataRead = in.Byte() % 3;
    r.DeviceNumber = static_cast<int8_t>(in.Byte());
    r.NewDeviceNumber = static_cast<int8_t>(in.Byte());
    r.BlockOrigin = static_cast<int8_t>(in.Byte());
}

const std::string_view kSeparators[] = {",", ".", ""};

void Conversions(InputReader& in) {
    const int32_t result = static_cast<int32_t>(in.Long());
    const int32_t characteristic = static_cast<int8_t>(in.Byte());
    const float a = Float(in);
    const float b = Float(in);
    const int decimals = in.Byte() % 7;
    const std::string_view separator = kSeparators[in.Byte() % std::size(kSeparators)];

    const std::string pressure = PressureText(result, characteristic, a, b, separator);
    if (result <= kPressureThreshold) {
        FUZZ_CHECK(pressure == "0");
    } else {
        CheckFixed(pressure, 2, separator);
    }
    CheckFixed(OutputPercentText(result, separator), 2, separator);
    CheckFixed(SetpointPercentText(result), 0, "");
    const float percent = SetpointPercentOf(result);
    FUZZ_CHECK(std::isfinite(percent));
    FUZZ_CHECK(std::isfinite(a) == std::isfinite(static_cast<double>(SetpointCodeUnits(a))));
    // Any value of a float, as the callers pass (they never exceed that range).
    CheckFixed(FixedText(a, decimals, separator), decimals, separator);
}

void SetpointText(const TProgVEKClass& r, InputReader& in) {
    const int32_t setpoint = static_cast<int8_t>(in.Byte());
    const std::u32string text = DecodeUtf8(in.Chunk());
    const SetpointCheck check = r.CheckSetpointText(text, setpoint);
    FUZZ_CHECK(check.result == SetpointCheck::Ok || check.result == SetpointCheck::InputError ||
               check.result == SetpointCheck::NotANumber);
    if (check.result == SetpointCheck::Ok) {
        FUZZ_CHECK(!text.empty() && text != U"-");
        FUZZ_CHECK(text.find_first_not_of(U"0123456789,-") == std::u32string::npos);
    }
    if (text.empty()) FUZZ_CHECK(check.result == SetpointCheck::InputError);
}

void CopyBlock(const TProgVEKClass& r, InputReader& in) {
    constexpr size_t kGuard = 16;
    const size_t n = in.Byte() % 40;
    std::array<uint8_t, kGuard + 40 + kGuard> area;
    area.fill(0xA5);
    r.CopyBlockTo(std::span(area.data() + kGuard, n));
    const size_t copied = std::min<size_t>(n, r.GetBlockLength());
    FUZZ_CHECK(std::equal(r.Block().begin(), r.Block().begin() + copied, area.begin() + kGuard));
    FUZZ_CHECK(
        std::all_of(area.begin(), area.begin() + kGuard, [](uint8_t c) { return c == 0xA5; }));
    FUZZ_CHECK(std::all_of(area.begin() + kGuard + copied, area.end(),
                           [](uint8_t c) { return c == 0xA5; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader in(data, size);
    TProgVEKClass record;
    NewIdentity(record, in);
    record.RangeStart1 = Float(in);
    record.RangeEnd1 = Float(in);
    record.RangeStart2 = Float(in);
    record.RangeEnd2 = Float(in);
    CheckRecord(record);

    while (!in.AtEnd()) {
        switch (in.Byte() % 8) {
            case 0:
                record.SetBlockLength(in.Byte());
                break;
            case 1:
                record.LoadBlock(in.Chunk());
                break;
            case 2:
                record.LoadMeasurements(in.Chunk());
                break;
            case 3:
                CopyBlock(record, in);
                break;
            case 4: {
                const uint8_t which = in.Byte();
                const int32_t value = static_cast<int32_t>(in.Long());
                SetField(record, which, value, static_cast<int8_t>(in.Byte()));
                break;
            }
            case 5:
                SetpointText(record, in);
                break;
            case 6:
                Conversions(in);
                break;
            case 7:
                NewIdentity(record, in);
                record.UpdateNonPrivileged();
                FUZZ_CHECK(IsBit(record.GetNonPrivileged()));
                break;
        }
        CheckRecord(record);
    }
    return 0;
}
