#include "cli/cli_output.h"

#include <algorithm>

#include "common/saved_text.h"
#include "device/conversions.h"

namespace {

struct Channel {
    int32_t result, adc, status;
    std::optional<long double> kpa;
    long double percent;
};

std::vector<Channel> Channels(const TProgVEKClass& r) {
    std::vector<Channel> channels;
    const int count = r.TypeCode == kTypeVek02 ? 2 : 1;
    for (int c = 1; c <= count; ++c) {
        const int32_t result = c == 1 ? r.GetResult1() : r.GetResult2();
        channels.push_back(
            {result, c == 1 ? r.GetAdc1() : r.GetAdc2(), r.GetStatus(c),
             PressureKpa(result, r.GetCharacteristic(c), c == 1 ? r.RangeStart1 : r.RangeStart2,
                         c == 1 ? r.RangeEnd1 : r.RangeEnd2),
             OutputPercent(result)});
    }
    return channels;
}

// A value rounded as the window shows it (two places), as a JSON number.
double Rounded(long double value) {
    return ParseNumber(FixedText(value, 2, "."));
}

Json ChannelsJson(const TProgVEKClass& r) {
    Json channels = Json::array();
    int c = 0;
    for (const Channel& ch : Channels(r)) {
        channels.push_back({{"channel", ++c},
                            {"result", ch.result},
                            {"percent", Rounded(ch.percent)},
                            {"pressure_kpa", ch.kpa ? Json(Rounded(*ch.kpa)) : Json(nullptr)},
                            {"adc", ch.adc},
                            {"status", StatusBits(ch.status, 7, 0)}});
    }
    return channels;
}

size_t Characters(const std::string& text) {
    return std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

}  // namespace

Json ReadJson(const TProgVEKClass& r, const std::string& port) {
    Json fields = Json::object();
    for (const ConfigurationField& f : DecodeBlock(BlockOf(r)))
        fields[f.key] = f.value;
    return {{"address", r.DeviceNumber + 1},
            {"port", port},
            {"type", r.TypeCode},
            {"model", ModelName(r.TypeCode)},
            {"version", r.Version},
            {"block", CompactHex(r.Block())},
            {"measurements", CompactHex(r.MeasurementArea())},
            {"fields", fields},
            {"channels", ChannelsJson(r)}};
}

std::string ReadTable(const TProgVEKClass& r, const std::string& port, int32_t baud) {
    std::string text = "Устройство " + std::to_string(r.DeviceNumber + 1) + ", " +
                       ModelName(r.TypeCode) + " (тип " + std::to_string(r.TypeCode) +
                       "), версия " + std::to_string(r.Version) + ", порт " + port + ", " +
                       std::to_string(baud) + " бит/с\n\n";
    std::vector<std::vector<std::string>> rows;
    for (const ConfigurationField& f : DecodeBlock(BlockOf(r))) {
        // Channel 2 means nothing on a one-channel model.
        if (r.TypeCode != kTypeVek02 && f.label.ends_with("канал 2")) continue;
        rows.push_back({f.label, f.value});
    }
    text += Columns(rows) + "\n";
    rows.clear();
    rows.push_back({"Канал", "Результат", "Выход, %", "Давление, кПа", "Код АЦП", "Состояние"});
    int c = 0;
    for (const Channel& ch : Channels(r)) {
        rows.push_back({std::to_string(++c), std::to_string(ch.result),
                        FixedText(ch.percent, 2, ","), ch.kpa ? FixedText(*ch.kpa, 2, ",") : "—",
                        std::to_string(ch.adc), StatusBits(ch.status, 7, 0)});
    }
    return text + Columns(rows);
}

Json WatchJson(const TProgVEKClass& r, const std::string& time) {
    return {{"time", time},
            {"address", r.DeviceNumber + 1},
            {"model", ModelName(r.TypeCode)},
            {"measurements", CompactHex(r.MeasurementArea())},
            {"channels", ChannelsJson(r)}};
}

std::string WatchCsvHeading() {
    return "time,address,model,result1,percent1,kpa1,adc1,status1,"
           "result2,percent2,kpa2,adc2,status2\n";
}

std::string WatchCsv(const TProgVEKClass& r, const std::string& time) {
    std::string line =
        time + "," + std::to_string(r.DeviceNumber + 1) + "," + ModelName(r.TypeCode);
    const std::vector<Channel> channels = Channels(r);
    for (size_t c = 0; c < 2; ++c) {
        if (c >= channels.size()) {
            line += ",,,,,";
            continue;
        }
        const Channel& ch = channels[c];
        line += "," + std::to_string(ch.result) + "," + FixedText(ch.percent, 2, ".") + "," +
                (ch.kpa ? FixedText(*ch.kpa, 2, ".") : "") + "," + std::to_string(ch.adc) + "," +
                StatusBits(ch.status, 7, 0);
    }
    return line + "\n";
}

Json ChangesJson(const std::vector<FieldDifference>& differences, const char* from,
                 const char* to) {
    Json changes = Json::array();
    for (const FieldDifference& d : differences)
        changes.push_back({{"field", d.key}, {"label", d.label}, {from, d.first}, {to, d.second}});
    return changes;
}

std::string ChangesTable(const std::vector<FieldDifference>& differences) {
    return differences.empty() ? "" : "  " + DifferencesText(differences, "\n  ") + "\n";
}

std::string Columns(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], Characters(row[i]));
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - Characters(row[i]) + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}
