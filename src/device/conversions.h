// Conversions of the device's codes into what the operator reads: percent of the output
// signal range, pressure in kPa, setpoint percent, and their fixed-point texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Output code units 0..16383 stand for 0..100 % of the output signal range.
constexpr int32_t kFullScaleCode = 16383;
// Results at or below this code have no pressure value.
constexpr int32_t kPressureThreshold = -200;

// r × (1/16383) × 100, in extended precision.
long double OutputPercent(int32_t result);

// Pressure of a result code of a channel with the given characteristic bit (0 linear,
// 1 square root) and input range; none at or below the threshold.
std::optional<long double> PressureKpa(int32_t result, int32_t characteristic, float rangeStart,
                                       float rangeEnd);

// code × 100 × (1/16383), rounded to single precision.
float SetpointPercentOf(int32_t code);

// A typed setpoint percentage in output code units: percent × 16383 × 0.01, in extended
// precision, not yet truncated.
long double SetpointCodeUnits(float percent);

// The value rounded to `decimals` places, a minus sign when negative, no thousands
// separator and the given decimal separator (the user's locale's).
std::string FixedText(long double value, int decimals, std::string_view decimalSeparator);

std::string OutputPercentText(int32_t result, std::string_view decimalSeparator);
// "0" when the result has no pressure value.
std::string PressureText(int32_t result, int32_t characteristic, float rangeStart, float rangeEnd,
                         std::string_view decimalSeparator);
std::string SetpointPercentText(int32_t code);

// The input range of a channel in kPa: its start is chosen by the block's range bit (0: 20 kPa,
// 1: 0 kPa), its end is fixed.
constexpr float RangeStartKpa(int32_t rangeStartBit) {
    return rangeStartBit ? 0.0f : 20.0f;
}
constexpr float kRangeEndKpa = 100.0f;

// The output current trim of a trim step (0..15) in µA: start-of-scale steps 0..7 are 0..+28,
// 8..15 are -4..-32; end-of-scale steps 0..5 are 0..+20, 6..15 are -4..-40.
constexpr int32_t TrimMicroamps(int32_t step, bool scaleEnd) {
    const int32_t positive = scaleEnd ? 5 : 7;
    return step <= positive ? 4 * step : -4 * (step - positive);
}

// The bits of a status byte from `highBit` down to `lowBit` as digits, most significant first.
std::string StatusBits(int32_t status, int highBit, int lowBit);
