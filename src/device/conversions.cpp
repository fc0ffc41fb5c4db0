#include "device/conversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr long double kScale = 1.0L / kFullScaleCode;
constexpr float kRootFactor = 0.0078125f;  // 1/128

}  // namespace

long double OutputPercent(int32_t result) {
    return result * kScale * 100;
}

std::optional<long double> PressureKpa(int32_t result, int32_t characteristic, float rangeStart,
                                       float rangeEnd) {
    if (result <= kPressureThreshold) return std::nullopt;
    float x = static_cast<float>(result);
    if (characteristic == 1) {
        float root = static_cast<float>(result) * kRootFactor;
        x = root * root;
    }
    return rangeStart + x * kScale * (static_cast<long double>(rangeEnd) - rangeStart);
}

float SetpointPercentOf(int32_t code) {
    // In extended precision from the start: any code of an int, not only a device's, fits.
    return static_cast<float>(static_cast<long double>(code) * 100 * kScale);
}

long double SetpointCodeUnits(float percent) {
    return percent * static_cast<long double>(kFullScaleCode) * 0.01L;
}

namespace {

// Whether the value lies exactly halfway between two texts of `decimals` places. Its digits
// are exact at 80 places for every value that does not round to zero.
bool IsExactTie(long double value, int decimals) {
    char text[128];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals + 80);
    const char* stop = end.ptr;
    const char* point = std::find(static_cast<const char*>(text), stop, '.');
    if (end.ec != std::errc() || stop - point <= decimals + 1) return false;
    const char* first = point + 1 + decimals;
    return *first == '5' && std::all_of(first + 1, stop, [](char c) { return c == '0'; });
}

}  // namespace

std::string FixedText(long double value, int decimals, std::string_view decimalSeparator) {
    // A tie rounds away from zero, as a person rounds ("155,625" shows as "155,63"), not to the
    // even digit.
    if (IsExactTie(value, decimals)) {
        value = std::nextafter(value, value < 0 ? -HUGE_VALL : HUGE_VALL);
    }
    // Formatted without the process locale, which the toolkit sets from the environment; the
    // separator is the one asked for.
    // Room for the digits of the largest long double (a range bound can be any float).
    char text[std::numeric_limits<long double>::max_exponent10 + 64];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (end.ec != std::errc()) return {};
    std::string out;
    bool nonZero = false;
    for (const char* p = text; p != end.ptr; ++p) {
        if (*p == '.') {
            out += decimalSeparator;
        } else {
            if (*p >= '1' && *p <= '9') nonZero = true;
            out += *p;
        }
    }
    // A value that rounds to zero is shown without a sign.
    if (!nonZero && !out.empty() && out[0] == '-') out.erase(0, 1);
    return out;
}

std::string OutputPercentText(int32_t result, std::string_view decimalSeparator) {
    return FixedText(OutputPercent(result), 2, decimalSeparator);
}

std::string PressureText(int32_t result, int32_t characteristic, float rangeStart, float rangeEnd,
                         std::string_view decimalSeparator) {
    std::optional<long double> kpa = PressureKpa(result, characteristic, rangeStart, rangeEnd);
    return kpa ? FixedText(*kpa, 2, decimalSeparator) : "0";
}

std::string SetpointPercentText(int32_t code) {
    return FixedText(SetpointPercentOf(code), 0, "");
}

std::string StatusBits(int32_t status, int highBit, int lowBit) {
    std::string digits;
    for (int bit = highBit; bit >= lowBit; --bit)
        digits += (status >> bit) & 1 ? '1' : '0';
    return digits;
}
