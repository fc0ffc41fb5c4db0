// The configuration file's reader on whatever a file may hold: it never crashes, accepts only
// a configuration that passes every check, and what it accepts is written back to a text that
// reads the same again.
#include <cstdint>
#include <string_view>

#include "device/config_file.h"
#include "device/protocol.h"
#include "input_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ParsedConfiguration parsed = ParseConfiguration(text);
    FUZZ_CHECK(parsed.configuration.has_value() == parsed.error.empty());
    if (!parsed.configuration) return 0;
    const DeviceConfiguration& c = *parsed.configuration;
    FUZZ_CHECK(IsServedModel(c.type));
    FUZZ_CHECK(c.block.size() >= 18 && c.block.size() <= 30);
    FUZZ_CHECK(c.block[17] <= 31 && c.deviceNumber == c.block[17]);
    const ParsedConfiguration again = ParseConfiguration(ConfigurationText(c));
    FUZZ_CHECK(again.configuration && again.configuration->block == c.block &&
               again.configuration->type == c.type && again.configuration->version == c.version);
    return 0;
}
