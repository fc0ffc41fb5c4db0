#include <gtest/gtest.h>

#include <clocale>

#include "device/Obrnastr.h"
#include "device/conversions.h"

namespace {

TEST(Conversions, PercentOfTheOutputRange) {
    EXPECT_EQ(OutputPercentText(16383, "."), "100.00");
    EXPECT_EQ(OutputPercentText(8192, "."), "50.00");
    EXPECT_EQ(OutputPercentText(0, "."), "0.00");
    EXPECT_EQ(OutputPercentText(-200, "."), "-1.22");
    EXPECT_EQ(OutputPercentText(-32768, ","), "-200,01");
    EXPECT_EQ(OutputPercentText(-1, ","), "-0,01");
}

TEST(Conversions, LinearPressure) {
    EXPECT_EQ(PressureText(16383, 0, 20, 100, "."), "100.00");
    EXPECT_EQ(PressureText(8192, 0, 20, 100, "."), "60.00");
    EXPECT_EQ(PressureText(0, 0, 20, 100, "."), "20.00");
    EXPECT_EQ(PressureText(-199, 0, 20, 100, "."), "19.03");
    EXPECT_EQ(PressureText(-200, 0, 20, 100, "."), "0");
    EXPECT_EQ(PressureText(-32768, 0, 20, 100, ","), "0");
    EXPECT_EQ(PressureText(8192, 0, 0, 100, ","), "50,00");
}

TEST(Conversions, SquareRootPressure) {
    EXPECT_EQ(PressureText(8192, 1, 20, 100, "."), "40.00");
    EXPECT_EQ(PressureText(-199, 1, 20, 100, "."), "20.01");  // the square is positive
    EXPECT_EQ(PressureText(4096, 1, 0, 100, "."), "6.25");
    EXPECT_EQ(PressureText(-200, 1, 0, 100, "."), "0");
    EXPECT_EQ(PressureText(32767, 1, 20, 100, ","), "340,00");  // (32767/128)² = 65532
}

TEST(Conversions, SetpointPercentRoundsToWholeNumbers) {
    EXPECT_EQ(SetpointPercentText(8191), "50");
    EXPECT_EQ(SetpointPercentText(3276), "20");
    EXPECT_EQ(SetpointPercentText(16383), "100");
    EXPECT_EQ(SetpointPercentText(0), "0");
    EXPECT_EQ(SetpointPercentText(245), "1");  // a typed 1,5 % is stored as 245
    // Any int, beyond a device's codes too, without overflow.
    EXPECT_EQ(SetpointPercentText(INT32_MAX), "13108000");
    EXPECT_EQ(SetpointPercentText(INT32_MIN), "-13108000");
    TProgVEKClass record;
    EXPECT_FLOAT_EQ(record.SetpointPercent(8192), 8192 * 100.0f / 16383);
}

// The toolkit sets the process locale from the environment; a text keeps the separator it is
// given, under a locale whose own separator is a comma too.
TEST(Conversions, FixedTextIgnoresTheProcessLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "ru_RU.UTF-8")) {
        GTEST_SKIP() << "no ru_RU.UTF-8 locale (scripts/install-deps.sh makes it)";
    }
    EXPECT_EQ(FixedText(12.346L, 2, "."), "12.35");
    EXPECT_EQ(OutputPercentText(8192, "."), "50.00");
    std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST(Conversions, FixedTextForm) {
    EXPECT_EQ(FixedText(123.456L, 2, ","), "123,46");
    EXPECT_EQ(FixedText(-0.004L, 2, ","), "0,00");  // no sign on a rounded zero
    EXPECT_EQ(FixedText(-12.6L, 0, ","), "-13");
    EXPECT_EQ(FixedText(999.996L, 2, "."), "1000.00");
    EXPECT_EQ(FixedText(1.5L, 2, "٫"), "1٫50");  // any separator the locale has
    // An exact tie rounds away from zero; the one a device can reach is square root, 20..100.
    EXPECT_EQ(PressureText(21332, 1, 20, 100, ","), "155,63");
    EXPECT_EQ(FixedText(-0.125L, 2, ","), "-0,13");
    EXPECT_EQ(FixedText(2.5L, 0, ","), "3");
    EXPECT_EQ(FixedText(0.12500000000000001L, 2, ","), "0,13");
    EXPECT_EQ(FixedText(0.1249999999L, 2, ","), "0,12");
    const std::string huge = FixedText(1e70L, 0, ",");  // whole, however large
    EXPECT_TRUE(huge.size() == 70u || huge.size() == 71u) << huge;
}

}  // namespace
