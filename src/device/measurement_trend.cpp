#include "device/measurement_trend.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "common/saved_text.h"
#include "device/conversions.h"

namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

double Kpa(int32_t code, const TProgVEKClass& r, int channel) {
    const std::optional<long double> kpa =
        channel == 1 ? PressureKpa(code, r.GetCharacteristic(1), r.RangeStart1, r.RangeEnd1)
                     : PressureKpa(code, r.GetCharacteristic(2), r.RangeStart2, r.RangeEnd2);
    return kpa ? static_cast<double>(*kpa) : kNoValue;
}

// Empty where there is no value.
std::string Text(double value) {
    return std::isnan(value) ? std::string() : NumberText(value);
}

}  // namespace

void MeasurementTrend::Add(int64_t timeMs, const std::string& port, const TProgVEKClass& record) {
    if (record.TypeCode != kTypeVek01 && record.TypeCode != kTypeVek02) return;
    TrendSample s;
    s.timeMs = timeMs;
    s.deviceNumber = record.DeviceNumber;
    s.typeCode = record.TypeCode;
    const int32_t results[2] = {record.GetResult1(), record.GetResult2()};
    for (int ch = 1; ch <= 2; ++ch) {
        const bool shown = ch <= s.Channels();
        s.kpa[ch - 1] = shown ? Kpa(results[ch - 1], record, ch) : kNoValue;
        s.percent[ch - 1] = shown ? static_cast<double>(OutputPercent(results[ch - 1])) : kNoValue;
    }
    const int32_t setpoints[2] = {record.GetSetpoint1(), record.GetSetpoint2()};
    for (int sp = 1; sp <= 2; ++sp) {
        s.setpointPercent[sp - 1] = SetpointPercentOf(setpoints[sp - 1]);
        s.setpointKpa[sp - 1] = Kpa(setpoints[sp - 1], record, s.SetpointChannel(sp));
    }

    const bool sameSource = !samples_.empty() && port == port_ &&
                            samples_.back().deviceNumber == s.deviceNumber &&
                            samples_.back().typeCode == s.typeCode;
    if (!sameSource) samples_.clear();
    port_ = port;
    samples_.push_back(s);
    while (samples_.size() > capacity_)
        samples_.pop_front();
}

void MeasurementTrend::SaveCsv(std::ostream& out) const {
    out << "время,устройство,модель,канал 1 кПа,канал 1 %,канал 2 кПа,канал 2 %,уставка 1 %,"
           "уставка 2 %\n";
    for (const TrendSample& s : samples_) {
        out << WallTimeText(s.timeMs) << ',' << s.deviceNumber + 1 << ',' << s.Model();
        for (int ch = 0; ch < 2; ++ch)
            out << ',' << Text(s.kpa[ch]) << ',' << Text(s.percent[ch]);
        out << ',' << Text(s.setpointPercent[0]) << ',' << Text(s.setpointPercent[1]) << '\n';
    }
}

std::vector<TrendSample> MeasurementTrend::LoadCsv(std::istream& in) {
    std::vector<TrendSample> samples;
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = SplitFields(line, ',');
        if (fields.size() != 9) continue;
        const std::optional<int64_t> timeMs = ParseWallTime(fields[0]);
        if (!timeMs) continue;
        TrendSample s;
        s.timeMs = *timeMs;
        std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), s.deviceNumber);
        --s.deviceNumber;
        s.typeCode = kTypeVek02;
        if (fields[2] != s.Model()) s.typeCode = kTypeVek01;
        for (int ch = 0; ch < 2; ++ch) {
            s.kpa[ch] = ParseNumber(fields[3 + 2 * ch]);
            s.percent[ch] = ParseNumber(fields[4 + 2 * ch]);
        }
        s.setpointPercent = {ParseNumber(fields[7]), ParseNumber(fields[8])};
        s.setpointKpa = {kNoValue, kNoValue};
        samples.push_back(s);
    }
    return samples;
}
