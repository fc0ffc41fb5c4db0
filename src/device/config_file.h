// A device's configuration kept in a file (JSON, UTF-8): who saved it, from where, the device's
// identity, its whole configuration block as read (authoritative), and the same block decoded
// into named fields a person can read. A file is checked whole before anything in it is used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kConfigurationFormat = "vek-serv-configuration";
inline constexpr int kConfigurationFormatVersion = 1;

struct DeviceConfiguration {
    std::string toolVersion;
    std::string saved;  // local time, "YYYY-MM-DD HH:MM:SS.mmm"
    std::string port;
    int32_t baud = 0;
    int32_t deviceNumber = 0;  // 0-based
    int32_t type = 0;
    int32_t version = 0;
    std::vector<uint8_t> block;
};

// One field of a block in the operator's terms.
struct ConfigurationField {
    std::string key;    // the file's name of the field
    std::string label;  // the operator's name of it
    std::string value;  // as the operator reads it
};

// The named fields of a block (at least 18 bytes) of a ВЭК-01МЕ or ВЭК-02МЕ.
std::vector<ConfigurationField> DecodeBlock(const std::vector<uint8_t>& block);

class TProgVEKClass;
// The block the record holds, as the functions here take blocks.
std::vector<uint8_t> BlockOf(const TProgVEKClass& record);

// The configuration of the device that the record has read, saved now from the named port at
// the given speed by this version of the tool.
DeviceConfiguration ConfigurationOf(const TProgVEKClass& record, const std::string& port,
                                    int32_t baud);

std::string ConfigurationText(const DeviceConfiguration& configuration);

// A configuration read from a text, or why it is refused (what is wrong and where).
struct ParsedConfiguration {
    std::optional<DeviceConfiguration> configuration;
    std::string error;
};
ParsedConfiguration ParseConfiguration(std::string_view text);

// Files: written whole or not at all; read and checked whole. On failure, the message.
std::optional<std::string> SaveConfiguration(const std::string& path,
                                             const DeviceConfiguration& configuration);
ParsedConfiguration LoadConfiguration(const std::string& path);

// The fields whose values differ between two blocks: label, first value, second value.
struct FieldDifference {
    std::string label;
    std::string first;
    std::string second;
    std::string key;  // the file's name of the field
};
std::vector<FieldDifference> CompareBlocks(const std::vector<uint8_t>& first,
                                           const std::vector<uint8_t>& second);
// Differences as "label: first → second", joined by the separator.
std::string DifferencesText(const std::vector<FieldDifference>& differences,
                            std::string_view separator);

// The block to write from a file onto a device: the device's block with the file's settings
// (setpoints, characteristics, input ranges, alarm and contact types, break outputs); the
// scale-end ADC codes and the output trims from the file only when asked (restoring the same
// transducer), the device number likewise (setting up a replacement at the file's number);
// the mode bit, the flags' undefined bit and bytes 18 onward always the device's own.
// The refusal of a file of another model than the device's.
std::string OtherModelText(int32_t fileType, int32_t deviceType);

struct TakenFromFile {
    bool calibration = false;
    bool deviceNumber = false;
};
std::vector<uint8_t> BlockFromFile(const std::vector<uint8_t>& device,
                                   const std::vector<uint8_t>& file, TakenFromFile taken);
