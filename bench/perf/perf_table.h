// What the performance programs share: summaries of repeated measurements, the rows of the
// one table that scripts/bench.sh prints, and the process's own figures (processor time,
// resident memory).
//
// A program writes its table rows to standard output, one a line, as tab-separated fields:
//   row <measure> <figure: min / median / max> <limit or goal> <ratio> <verdict>
// and everything else (progress, library output) to standard error.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace perf {

struct Summary {
    double min = NAN;
    double median = NAN;
    double max = NAN;
    size_t count = 0;
};

inline Summary Summarize(std::vector<double> values) {
    Summary s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.count = values.size();
    s.min = values.front();
    s.max = values.back();
    const size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return s;
}

// A number with the given decimals, "-" when it is not one.
inline std::string Number(double value, int decimals) {
    if (!std::isfinite(value)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// "min / median / max unit"; a single measurement is shown once.
inline std::string Figure(const Summary& s, int decimals, const std::string& unit) {
    if (s.count == 0) return "-";
    const std::string tail = unit.empty() ? "" : " " + unit;
    if (s.count == 1) return Number(s.median, decimals) + tail;
    return Number(s.min, decimals) + " / " + Number(s.median, decimals) + " / " +
           Number(s.max, decimals) + tail;
}

inline std::string Ratio(double value) {
    return Number(value, 3);
}

// The verdict of a figure against a goal: "met", "MISSED", or empty without a goal.
inline std::string Verdict(bool hasGoal, bool met) {
    if (!hasGoal) return "";
    return met ? "met" : "MISSED";
}

inline void Row(const std::string& measure, const std::string& figure, const std::string& limit,
                const std::string& ratio, const std::string& verdict) {
    std::printf("row\t%s\t%s\t%s\t%s\t%s\n", measure.c_str(), figure.c_str(), limit.c_str(),
                ratio.c_str(), verdict.c_str());
    std::fflush(stdout);
}

// Processor time (user + system) in seconds: of the calling thread, or of the whole process
// with all its threads.
inline double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
inline double ThreadCpuSeconds() {
    return CpuSeconds(RUSAGE_THREAD);
}
inline double ProcessCpuSeconds() {
    return CpuSeconds(RUSAGE_SELF);
}

// Resident memory of the process in kB (VmRSS), -1 when it cannot be read.
inline long RssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Milliseconds one character of 11 bits (start, 8 data, 2 stop) takes on the line.
inline double CharacterMs(int baud) {
    return 11000.0 / baud;
}

}  // namespace perf
