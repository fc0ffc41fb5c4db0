#include "common/saved_text.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <sstream>

namespace {

std::tm LocalTime(std::time_t seconds) {
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &seconds);
#else
    localtime_r(&seconds, &parts);
#endif
    return parts;
}

// Floor division: times before the epoch keep their milliseconds in 0..999.
int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

}  // namespace

std::string HexText(std::span<const uint8_t> bytes) {
    std::string text;
    char digits[4];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", b);
        text += digits;
    }
    return text;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CompactHex(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::optional<std::vector<uint8_t>> ParseHexText(std::string_view text) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 3) {
        if (i + 2 > text.size()) return std::nullopt;
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        if (i + 2 < text.size() && text[i + 2] != ' ') return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::vector<std::string> SplitFields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, separator);)
        fields.push_back(field);
    if (!line.empty() && line.back() == separator) fields.emplace_back();
    return fields;
}

std::string NumberText(double value, int decimals) {
    char text[64];
    const auto end = decimals < 0 ? std::to_chars(text, text + sizeof text, value)
                                  : std::to_chars(text, text + sizeof text, value,
                                                  std::chars_format::fixed, decimals);
    return end.ec == std::errc() ? std::string(text, end.ptr) : std::string();
}

double ParseNumber(std::string_view text) {
    double value = std::numeric_limits<double>::quiet_NaN();
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

int64_t WallNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string WallTimeText(int64_t msSinceEpoch) {
    const int64_t seconds = FloorDiv(msSinceEpoch, 1000);
    const std::tm t = LocalTime(static_cast<std::time_t>(seconds));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(msSinceEpoch - seconds * 1000));
    return text;
}

std::optional<int64_t> ParseWallTime(std::string_view text) {
    if (text.size() != 23) return std::nullopt;
    int year, month, day, hour, minute, second, ms, used = 0;
    const std::string whole(text);
    if (std::sscanf(whole.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%n", &year, &month, &day, &hour,
                    &minute, &second, &ms, &used) != 7 ||
        used != 23) {
        return std::nullopt;
    }
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&t);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(seconds) * 1000 + ms;
}
