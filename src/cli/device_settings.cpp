#include "cli/device_settings.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "common/saved_text.h"
#include "device/conversions.h"

const char* const kSettingsHelp = R"(Settings (N is the channel or the setpoint, 1 or 2):
  setpointN=PERCENT        setpoint in % of the output range, e.g. 80,5 or 80.5
  characteristicN=linear|root
  rangeN=0-100|20-100      input range in kPa
  alarmN=L|H               alarm type of setpoint N
  contactN=no|nc           contact type of setpoint N (normally open or closed)
  breakN=min|max           output current on a broken input line
  trim-startN=UA           output current trim at the scale start, µA: -32..+28 in steps of 4
  trim-endN=UA             output current trim at the scale end, µA: -40..+20 in steps of 4
Characteristics, ranges and trims change only in the privileged mode; channel 2 settings
exist on a ВЭК-02МЕ only.)";

namespace {

enum class Kind { Setpoint, Characteristic, Range, Alarm, Contact, Break, TrimStart, TrimEnd };

struct Setting {
    Kind kind;
    int index;  // channel or setpoint
    std::string_view value;
};

struct Name {
    const char* stem;
    Kind kind;
};
constexpr Name kNames[] = {
    {"setpoint", Kind::Setpoint},    {"characteristic", Kind::Characteristic},
    {"range", Kind::Range},          {"alarm", Kind::Alarm},
    {"contact", Kind::Contact},      {"break", Kind::Break},
    {"trim-start", Kind::TrimStart}, {"trim-end", Kind::TrimEnd},
};

std::optional<Setting> ParseAssignment(std::string_view assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals < 2) return std::nullopt;
    const std::string_view name = assignment.substr(0, equals);
    const char last = name.back();
    if (last != '1' && last != '2') return std::nullopt;
    for (const Name& n : kNames) {
        if (name.substr(0, name.size() - 1) == n.stem) {
            return Setting{n.kind, last - '0', assignment.substr(equals + 1)};
        }
    }
    return std::nullopt;
}

// The position of a value in a list of accepted spellings, each a pair (English, Russian).
std::optional<int32_t> Choice(std::string_view value,
                              std::initializer_list<std::pair<const char*, const char*>> items) {
    int32_t i = 0;
    for (const auto& [english, russian] : items) {
        if (value == english || value == russian) return i;
        ++i;
    }
    return std::nullopt;
}

std::optional<int32_t> TrimStep(std::string_view value, bool scaleEnd) {
    const double uA = ParseNumber(value.substr(value.starts_with('+') ? 1 : 0));
    for (int32_t step = 0; step <= 15; ++step) {
        if (TrimMicroamps(step, scaleEnd) == uA) return step;
    }
    return std::nullopt;
}

// The setpoint's text as the window's edit takes it: a decimal comma (a point is taken too).
std::u32string SetpointText(std::string_view value) {
    std::u32string text;
    for (const char c : value)
        text += c == '.' ? U',' : static_cast<char32_t>(static_cast<unsigned char>(c));
    return text;
}

std::string Apply(TProgVEKClass& r, const Setting& s, std::string_view assignment) {
    const std::string named = "«" + std::string(assignment) + "»: ";
    const bool locked = s.kind == Kind::Characteristic || s.kind == Kind::Range ||
                        s.kind == Kind::TrimStart || s.kind == Kind::TrimEnd;
    if (locked && r.NonPrivileged) {
        return named + "прибор в непривилегированном режиме, настройка не меняется";
    }
    const bool channelSetting =
        s.kind != Kind::Setpoint && s.kind != Kind::Alarm && s.kind != Kind::Contact;
    if (channelSetting && s.index == 2 && r.TypeCode != kTypeVek02) {
        return named + "у " + std::string(ModelName(r.TypeCode)) + " один канал";
    }
    std::optional<int32_t> choice;
    switch (s.kind) {
        case Kind::Setpoint: {
            const SetpointCheck check = r.CheckSetpointText(SetpointText(s.value), s.index);
            if (check.result == SetpointCheck::NotANumber) return named + "не является числом";
            if (check.result == SetpointCheck::InputError) {
                const bool channel2 = s.index == 2 && r.TypeCode == kTypeVek02;
                return named + "ошибка ввода: уставка от " +
                       NumberText(channel2 ? r.RangeStart2 : r.RangeStart1) + " до " +
                       NumberText(channel2 ? r.RangeEnd2 : r.RangeEnd1) + " %";
            }
            s.index == 1 ? r.SetSetpoint1(check.code) : r.SetSetpoint2(check.code);
            return {};
        }
        case Kind::Characteristic:
            choice = Choice(s.value, {{"linear", "линейная"}, {"root", "корнеизвлечение"}});
            if (choice) r.SetCharacteristic(*choice, s.index);
            break;
        case Kind::Range:
            choice = Choice(s.value, {{"20-100", "20"}, {"0-100", "0"}});
            if (choice) {
                r.SetRangeStartBit(*choice, s.index);
                (s.index == 1 ? r.RangeStart1 : r.RangeStart2) = RangeStartKpa(*choice);
            }
            break;
        case Kind::Alarm:
            choice = Choice(s.value, {{"L", "L"}, {"H", "H"}});
            if (choice) s.index == 1 ? r.SetAlarmType1(*choice) : r.SetAlarmType2(*choice);
            break;
        case Kind::Contact:
            choice = Choice(s.value, {{"no", "нр"}, {"nc", "нз"}});
            if (choice) r.SetContactType(*choice, s.index);
            break;
        case Kind::Break:
            choice = Choice(s.value, {{"min", "ток min"}, {"max", "ток max"}});
            if (choice) r.SetBreakOutput(*choice, s.index);
            break;
        case Kind::TrimStart:
            choice = TrimStep(s.value, false);
            if (choice) r.SetStartTrim(*choice, s.index);
            break;
        case Kind::TrimEnd:
            choice = TrimStep(s.value, true);
            if (choice) r.SetEndTrim(*choice, s.index);
            break;
    }
    return choice ? std::string() : named + "недопустимое значение (vek-cli set --help)";
}

}  // namespace

std::string CheckSettingNames(const std::vector<std::string>& assignments) {
    for (const std::string& a : assignments) {
        if (!ParseAssignment(a)) return "«" + a + "»: неизвестная настройка (vek-cli set --help)";
    }
    return {};
}

std::string ApplySettings(TProgVEKClass& record, const std::vector<std::string>& assignments) {
    if (std::string refused = CheckSettingNames(assignments); !refused.empty()) return refused;
    for (const bool setpoints : {false, true}) {
        for (const std::string& a : assignments) {
            const Setting s = *ParseAssignment(a);
            if ((s.kind == Kind::Setpoint) != setpoints) continue;
            if (std::string refused = Apply(record, s, a); !refused.empty()) return refused;
        }
    }
    return {};
}
