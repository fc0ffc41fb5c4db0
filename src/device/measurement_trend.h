// The measured values of the device shown, against time, for the live trend: one sample per
// completed read of a ВЭК-01МЕ or ВЭК-02МЕ, the last `capacity` samples. A read of another
// device, of another model or on another port starts a new trend.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "device/Obrnastr.h"

struct TrendSample {
    int64_t timeMs = 0;        // system clock, since the epoch
    int32_t deviceNumber = 0;  // 0-based
    int32_t typeCode = 0;
    // Per channel; NaN where the channel has no value (no pressure value, no second channel).
    std::array<double, 2> kpa{};
    std::array<double, 2> percent{};
    // The two setpoints in % of the output range and in the kPa of their channel.
    std::array<double, 2> setpointPercent{};
    std::array<double, 2> setpointKpa{};

    int Channels() const { return typeCode == kTypeVek02 ? 2 : 1; }
    const char* Model() const { return ModelName(typeCode); }
    // The channel (1 or 2) whose output a setpoint (1 or 2) watches.
    int SetpointChannel(int setpoint) const { return Channels() == 2 ? setpoint : 1; }
};

class MeasurementTrend {
  public:
    static constexpr size_t kDefaultCapacity = 100000;
    explicit MeasurementTrend(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    // Adds the values of a record that has just been read and shown: the results and
    // setpoints through the same conversions as the main window, with the input ranges it
    // last took from its lists.
    void Add(int64_t timeMs, const std::string& port, const TProgVEKClass& record);
    const std::deque<TrendSample>& Samples() const { return samples_; }
    const std::string& Port() const { return port_; }
    void Clear() { samples_.clear(); }

    // Comma-separated, a heading line first: time, device number (1-based), model, kPa and %
    // of each channel, the two setpoints in %. Numbers with a point, as many digits as they
    // need to read back exactly; an empty field where there is no value.
    void SaveCsv(std::ostream& out) const;
    // Reads what SaveCsv wrote (setpoints in kPa are not saved); nothing on a line that is
    // not a sample.
    static std::vector<TrendSample> LoadCsv(std::istream& in);

  private:
    size_t capacity_;
    std::string port_;
    std::deque<TrendSample> samples_;
};
