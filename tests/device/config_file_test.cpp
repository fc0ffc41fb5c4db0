// Configuration files: what is saved reads back the same, every check of a file refuses what it
// must with a message that names the place, the comparison names exactly the changed fields,
// and a write from a file takes from the file only what the rules allow.
#include "device/config_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "device/protocol.h"

namespace {

std::vector<uint8_t> RandomBlock(std::mt19937& rng) {
    std::vector<uint8_t> block(18 + rng() % 13);
    for (uint8_t& b : block)
        b = static_cast<uint8_t>(rng());
    block[17] = static_cast<uint8_t>(rng() % 32);
    return block;
}

DeviceConfiguration Sample(std::mt19937& rng, int32_t type) {
    DeviceConfiguration c;
    c.toolVersion = "0.1.0";
    c.saved = "2026-12-09 10:00:00.000";
    c.port = "/dev/ttyUSB0";
    c.baud = 9600;
    c.type = type;
    c.version = static_cast<int32_t>(rng() % 256);
    c.block = RandomBlock(rng);
    c.deviceNumber = c.block[17];
    return c;
}

TEST(ConfigurationFile, WhatIsSavedReadsBackTheSame) {
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        const DeviceConfiguration c = Sample(rng, i % 2 ? kTypeVek01 : kTypeVek02);
        const ParsedConfiguration parsed = ParseConfiguration(ConfigurationText(c));
        ASSERT_TRUE(parsed.configuration) << parsed.error;
        const DeviceConfiguration& back = *parsed.configuration;
        EXPECT_EQ(back.block, c.block);
        EXPECT_EQ(back.type, c.type);
        EXPECT_EQ(back.version, c.version);
        EXPECT_EQ(back.deviceNumber, c.deviceNumber);
        EXPECT_EQ(back.port, c.port);
        EXPECT_EQ(back.baud, c.baud);
        EXPECT_EQ(back.saved, c.saved);
    }

    // Through a file, written whole; a file that cannot be written says so.
    const auto dir = std::filesystem::temp_directory_path() / "vek-config-test";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "device.json").string();
    const DeviceConfiguration c = Sample(rng, kTypeVek02);
    ASSERT_EQ(SaveConfiguration(path, c), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    const ParsedConfiguration loaded = LoadConfiguration(path);
    ASSERT_TRUE(loaded.configuration) << loaded.error;
    EXPECT_EQ(loaded.configuration->block, c.block);
    EXPECT_NE(SaveConfiguration((dir / "no" / "such.json").string(), c), std::nullopt);
    EXPECT_NE(LoadConfiguration((dir / "missing.json").string()).error, "");
    std::filesystem::remove_all(dir);
}

// Each check refuses a damaged or hand-edited file, and its message names the place.
TEST(ConfigurationFile, EveryCheckRefusesWithItsPlace) {
    std::mt19937 rng(11);
    DeviceConfiguration c = Sample(rng, kTypeVek02);
    c.block = {0xE1, 0x10, 0xCA, 0x5D, 0x31, 0x33, 0x33, 0x66, 0x06,
               0x02, 0x02, 0xA3, 0x0F, 0xB9, 0x5D, 0x00, 0x21, 0x00};
    c.deviceNumber = 0;
    const std::string good = ConfigurationText(c);
    ASSERT_TRUE(ParseConfiguration(good).configuration);
    struct Case {
        const char* what;
        std::string from, to;  // the first `from` in the good text becomes `to`
        const char* place;     // in the message
    };
    const Case cases[] = {
        {"not JSON", "{", "[", "JSON"},
        {"another format", "vek-serv-configuration", "other", "format"},
        {"a newer version", "\"format_version\": 1", "\"format_version\": 2", "format_version"},
        {"another model", "\"type\": 106", "\"type\": 104", "device.type"},
        {"model name", "ВЭК-02МЕ", "ВЭК-01МЕ", "device.model"},
        {"odd hex", "\"E1 10", "\"E1 1G", "block"},
        {"short block", " 21 00\"", " 21\"", "block"},
        {"number off the bus", " 21 00\"", " 21 20\"", "байт 17"},
        {"number disagrees", "\"number\": 1", "\"number\": 2", "device.number"},
        {"field disagrees", "\"setpoint_1_code\": \"13107\"", "\"setpoint_1_code\": \"13000\"",
         "fields.setpoint_1_code"},
        {"field missing", "\"mode\": ", "\"mood\": ", "fields.mode"},
        {"no tool version", "\"tool_version\"", "\"tool\"", "tool_version"},
        {"baud not a number", "\"baud\": 9600", "\"baud\": \"9600\"", "baud"},
    };
    for (const Case& k : cases) {
        std::string text = good;
        const size_t at = text.find(k.from);
        ASSERT_NE(at, std::string::npos) << k.what;
        text.replace(at, k.from.size(), k.to);
        const ParsedConfiguration parsed = ParseConfiguration(text);
        EXPECT_FALSE(parsed.configuration) << k.what;
        EXPECT_NE(parsed.error.find(k.place), std::string::npos) << k.what << ": " << parsed.error;
    }
}

// One field changed in the device: the comparison names that field and nothing else.
TEST(ConfigurationFile, ComparisonNamesExactlyTheChangedFields) {
    std::mt19937 rng(3);
    struct Case {
        size_t offset;
        uint8_t mask;  // bits flipped
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {4, 0x08, {"Тип контакта 1"}},
        {4, 0x10, {"Тип контакта 2"}},
        {4, 0x20, {"Выход при обрыве линии, канал 2"}},
        {4, 0x80, {"Режим программирования"}},
        {9, 0x01, {"Статическая характеристика, канал 1"}},
        {10, 0x02, {"Начало диапазона, кПа, канал 2"}},
        {13, 0x01, {"Код АЦП конца шкалы, канал 2"}},
        {15, 0x01, {"Корректировка тока конца шкалы, канал 1"}},
        {16, 0x10, {"Корректировка тока начала шкалы, канал 2"}},
        {17, 0x01, {"Номер устройства"}},
        {18, 0xFF, {"Байты 18 и далее"}},
        {9, 0x80, {}},  // a bit the tool does not interpret
    };
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> device = RandomBlock(rng);
        device.resize(22);
        device[17] &= 0x1E;  // the number stays on the bus with bit 0 flipped
        EXPECT_TRUE(CompareBlocks(device, device).empty());
        for (const Case& c : cases) {
            std::vector<uint8_t> other = device;
            other[c.offset] ^= c.mask;
            std::vector<std::string> labels;
            for (const FieldDifference& d : CompareBlocks(device, other))
                labels.push_back(d.label);
            EXPECT_EQ(labels, c.labels) << c.offset << " " << int{c.mask};
        }
    }
}

// A write from a file takes the settings; calibration and number only when asked; the mode bit,
// the undefined bits and bytes 18 onward never.
TEST(ConfigurationFile, WriteFromFileTakesOnlyWhatTheRulesAllow) {
    std::mt19937 rng(5);
    for (int round = 0; round < 100; ++round) {
        const std::vector<uint8_t> device = RandomBlock(rng), file = RandomBlock(rng);
        for (TakenFromFile taken : {TakenFromFile{}, TakenFromFile{true, false},
                                    TakenFromFile{false, true}, TakenFromFile{true, true}}) {
            const std::vector<uint8_t> block = BlockFromFile(device, file, taken);
            ASSERT_EQ(block.size(), device.size());
            auto from = [&](size_t offset, uint8_t fileMask) {
                return static_cast<uint8_t>((file[offset] & fileMask) |
                                            (device[offset] & ~fileMask));
            };
            EXPECT_EQ(block[4], from(4, 0x3F));
            for (size_t o = 5; o <= 8; ++o)
                EXPECT_EQ(block[o], file[o]);
            EXPECT_EQ(block[9], from(9, 0x03));
            EXPECT_EQ(block[10], from(10, 0x03));
            for (size_t o : {0, 1, 2, 3, 11, 12, 13, 14, 15, 16}) {
                EXPECT_EQ(block[o], taken.calibration ? file[o] : device[o]) << o;
            }
            EXPECT_EQ(block[17], taken.deviceNumber ? file[17] : device[17]);
            for (size_t o = 18; o < device.size(); ++o)
                EXPECT_EQ(block[o], device[o]);
        }
    }
}

}  // namespace
