#include "device/config_file.h"

#include <nlohmann/json.hpp>

#include "common/saved_text.h"
#include "common/whole_file.h"
#include "device/Obrnastr.h"
#include "device/conversions.h"
#include "device/protocol.h"

namespace {

using Json = nlohmann::ordered_json;

// A configuration file is small; anything larger is not one.
constexpr size_t kMaxFileBytes = 64 * 1024;

std::string TrimText(int32_t step, bool scaleEnd) {
    const int32_t uA = TrimMicroamps(step, scaleEnd);
    return (uA > 0 ? "+" : "") + std::to_string(uA) + " мкА";
}

TProgVEKClass RecordOf(const std::vector<uint8_t>& block) {
    TProgVEKClass record;
    record.SetBlock(block);
    return record;
}

}  // namespace

std::vector<ConfigurationField> DecodeBlock(const std::vector<uint8_t>& block) {
    const TProgVEKClass r = RecordOf(block);
    std::vector<ConfigurationField> fields;
    auto add = [&](std::string key, std::string label, std::string value) {
        fields.push_back({std::move(key), std::move(label), std::move(value)});
    };
    auto number = [](int32_t v) { return std::to_string(v); };
    const char* const characteristics[] = {"линейная", "корнеизвлечение"};
    const char* const alarms[] = {"L", "H"};
    const char* const contacts[] = {"нр", "нз"};
    const char* const breaks[] = {"ток min", "ток max"};
    const char* const rangeStarts[] = {"20", "0"};
    for (int s = 1; s <= 2; ++s) {
        const std::string n = std::to_string(s);
        const int32_t code = s == 1 ? r.GetSetpoint1() : r.GetSetpoint2();
        add("setpoint_" + n + "_code", "Уставка " + n + ", ед. кода", number(code));
        add("setpoint_" + n + "_percent", "Уставка " + n + ", %", SetpointPercentText(code));
        add("alarm_type_" + n, "Тип сигнализации " + n,
            alarms[s == 1 ? r.GetAlarmType1() : r.GetAlarmType2()]);
        add("contact_type_" + n, "Тип контакта " + n, contacts[r.GetContactType(s)]);
    }
    for (int c = 1; c <= 2; ++c) {
        const std::string n = std::to_string(c);
        add("characteristic_" + n, "Статическая характеристика, канал " + n,
            characteristics[r.GetCharacteristic(c)]);
        add("range_start_kpa_" + n, "Начало диапазона, кПа, канал " + n,
            rangeStarts[r.GetRangeStartBit(c)]);
        add("break_output_" + n, "Выход при обрыве линии, канал " + n, breaks[r.GetBreakOutput(c)]);
        add("scale_start_adc_" + n, "Код АЦП начала шкалы, канал " + n,
            number(c == 1 ? r.GetScaleStart1() : r.GetScaleStart2()));
        add("scale_end_adc_" + n, "Код АЦП конца шкалы, канал " + n,
            number(c == 1 ? r.GetScaleEnd1() : r.GetScaleEnd2()));
        add("trim_start_" + n, "Корректировка тока начала шкалы, канал " + n,
            TrimText(r.GetStartTrim(c), false));
        add("trim_end_" + n, "Корректировка тока конца шкалы, канал " + n,
            TrimText(r.GetEndTrim(c), true));
    }
    add("device_number", "Номер устройства", number(r.GetDeviceNumberByte() + 1));
    add("mode", "Режим программирования",
        r.Block()[4] & 0x80 ? "непривилегированный" : "привилегированный");
    add("extra_bytes", "Байты 18 и далее", HexText(std::span(block).subspan(18)));
    return fields;
}

std::vector<uint8_t> BlockOf(const TProgVEKClass& record) {
    return {record.Block().begin(), record.Block().end()};
}

DeviceConfiguration ConfigurationOf(const TProgVEKClass& record, const std::string& port,
                                    int32_t baud) {
    DeviceConfiguration c;
    c.toolVersion = VEK_VERSION;
    c.saved = WallTimeText(WallNowMs());
    c.port = port;
    c.baud = baud;
    c.deviceNumber = record.DeviceNumber;
    c.type = record.TypeCode;
    c.version = record.Version;
    c.block = BlockOf(record);
    return c;
}

std::string ConfigurationText(const DeviceConfiguration& c) {
    Json fields = Json::object();
    for (const ConfigurationField& f : DecodeBlock(c.block))
        fields[f.key] = f.value;
    const Json file = {
        {"format", kConfigurationFormat},
        {"format_version", kConfigurationFormatVersion},
        {"tool_version", c.toolVersion},
        {"saved", c.saved},
        {"port", c.port},
        {"baud", c.baud},
        {"device",
         {{"number", c.deviceNumber + 1},
          {"type", c.type},
          {"model", ModelName(c.type)},
          {"version", c.version}}},
        {"block", HexText(c.block)},
        {"fields", fields},
    };
    return file.dump(2) + "\n";
}

ParsedConfiguration ParseConfiguration(std::string_view text) {
    auto refused = [](std::string why) {
        return ParsedConfiguration{std::nullopt, std::move(why)};
    };
    Json file;
    try {
        file = Json::parse(text);
    } catch (const Json::exception& e) {
        return refused(std::string("файл не в формате JSON: ") + e.what());
    }
    if (!file.is_object()) return refused("файл не описывает прибор");
    auto string = [&](const Json& object, const char* key) -> const std::string* {
        auto it = object.find(key);
        return it != object.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
    };
    auto integer = [&](const Json& object, const char* key) -> std::optional<int64_t> {
        auto it = object.find(key);
        if (it == object.end() || !it->is_number_integer()) return std::nullopt;
        return it->get<int64_t>();
    };
    const std::string* format = string(file, "format");
    if (!format || *format != kConfigurationFormat) {
        return refused("поле format: ожидается \"" + std::string(kConfigurationFormat) + "\"");
    }
    if (integer(file, "format_version") != kConfigurationFormatVersion) {
        return refused("поле format_version: поддерживается версия " +
                       std::to_string(kConfigurationFormatVersion));
    }
    DeviceConfiguration c;
    for (auto [key, target] : {std::pair{"tool_version", &c.toolVersion},
                               std::pair{"saved", &c.saved}, std::pair{"port", &c.port}}) {
        const std::string* value = string(file, key);
        if (!value) return refused(std::string("поле ") + key + ": нет текста");
        *target = *value;
    }
    const auto baud = integer(file, "baud");
    if (!baud || *baud < 0 || *baud > 10'000'000) return refused("поле baud: неверная скорость");
    c.baud = static_cast<int32_t>(*baud);

    const auto device = file.find("device");
    if (device == file.end() || !device->is_object()) return refused("поле device: нет описания");
    const auto type = integer(*device, "type");
    if (!type || !IsServedModel(static_cast<int32_t>(*type))) {
        return refused("поле device.type: ожидается 105 (ВЭК-01МЕ) или 106 (ВЭК-02МЕ)");
    }
    c.type = static_cast<int32_t>(*type);
    const auto version = integer(*device, "version");
    if (!version || *version < 0 || *version > 255) {
        return refused("поле device.version: ожидается число 0..255");
    }
    c.version = static_cast<int32_t>(*version);
    const std::string* model = string(*device, "model");
    if (!model || *model != ModelName(c.type)) {
        return refused("поле device.model: не совпадает с типом " + std::to_string(c.type));
    }

    const std::string* blockText = string(file, "block");
    const auto block = blockText ? ParseHexText(*blockText) : std::nullopt;
    if (!block) return refused("поле block: ожидаются байты в виде \"E1 10 ...\"");
    if (block->size() < static_cast<size_t>(kBlockMinimum) ||
        block->size() > static_cast<size_t>(kBlockCapacity)) {
        return refused("поле block: длина " + std::to_string(block->size()) +
                       " байт, ожидается 18..30");
    }
    if ((*block)[17] > kMaxDeviceNumber) {
        return refused("поле block: номер устройства (байт 17) " + std::to_string((*block)[17]) +
                       " вне 0..31");
    }
    c.block = *block;
    c.deviceNumber = (*block)[17];
    if (integer(*device, "number") != c.deviceNumber + 1) {
        return refused("поле device.number: не совпадает с номером в блоке (" +
                       std::to_string(c.deviceNumber + 1) + ")");
    }

    const auto fields = file.find("fields");
    if (fields == file.end() || !fields->is_object()) return refused("поле fields: нет полей");
    const std::vector<ConfigurationField> decoded = DecodeBlock(c.block);
    for (const ConfigurationField& f : decoded) {
        const std::string* value = string(*fields, f.key.c_str());
        if (!value || *value != f.value) {
            return refused("поле fields." + f.key + ": не совпадает с блоком (в блоке " + f.value +
                           ")");
        }
    }
    if (fields->size() != decoded.size()) return refused("поле fields: лишние поля");
    return {c, {}};
}

std::optional<std::string> SaveConfiguration(const std::string& path,
                                             const DeviceConfiguration& configuration) {
    return WriteWholeFile(path, ConfigurationText(configuration));
}

ParsedConfiguration LoadConfiguration(const std::string& path) {
    const std::optional<std::string> text = ReadWholeFile(path, kMaxFileBytes);
    if (!text) return {std::nullopt, "Не удалось прочитать файл " + path};
    ParsedConfiguration parsed = ParseConfiguration(*text);
    if (!parsed.configuration) parsed.error = path + ": " + parsed.error;
    return parsed;
}

std::vector<FieldDifference> CompareBlocks(const std::vector<uint8_t>& first,
                                           const std::vector<uint8_t>& second) {
    const std::vector<ConfigurationField> a = DecodeBlock(first), b = DecodeBlock(second);
    std::vector<FieldDifference> differences;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].value != b[i].value)
            differences.push_back({a[i].label, a[i].value, b[i].value, a[i].key});
    }
    return differences;
}

std::string OtherModelText(int32_t fileType, int32_t deviceType) {
    return std::string("В файле ") + ModelName(fileType) + ", прибор — " + ModelName(deviceType) +
           ".\nЗапись из файла отменена";
}

std::vector<uint8_t> BlockFromFile(const std::vector<uint8_t>& device,
                                   const std::vector<uint8_t>& file, TakenFromFile taken) {
    std::vector<uint8_t> block = device;
    if (block.size() < static_cast<size_t>(kBlockMinimum) ||
        file.size() < static_cast<size_t>(kBlockMinimum)) {
        return block;
    }
    // Settings: alarm types, break outputs and contact types (flags bits 0..5), setpoints,
    // characteristics and range starts (bits 0 and 1 of offsets 9 and 10).
    auto bits = [&](size_t offset, uint8_t mask) {
        block[offset] = static_cast<uint8_t>((block[offset] & ~mask) | (file[offset] & mask));
    };
    bits(4, 0x3F);
    for (size_t offset = 5; offset <= 8; ++offset)
        block[offset] = file[offset];
    bits(9, 0x03);
    bits(10, 0x03);
    if (taken.calibration) {
        for (size_t offset : {0, 1, 2, 3, 11, 12, 13, 14, 15, 16})
            block[offset] = file[offset];
    }
    if (taken.deviceNumber) block[17] = file[17];
    return block;
}

std::string DifferencesText(const std::vector<FieldDifference>& differences,
                            std::string_view separator) {
    std::string text;
    for (const FieldDifference& d : differences) {
        if (!text.empty()) text += separator;
        text += d.label + ": " + d.first + " → " + d.second;
    }
    return text;
}
