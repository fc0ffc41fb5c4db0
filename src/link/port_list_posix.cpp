#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "port_list.h"

namespace fs = std::filesystem;

namespace {

// ttyS2 before ttyS10: the text before the trailing digits, then their value.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t digits = s.find_last_not_of("0123456789") + 1;
        std::string tail = s.substr(digits);
        return std::make_pair(s.substr(0, digits),
                              tail.empty() ? -1L : std::strtol(tail.c_str(), nullptr, 10));
    };
    return split(a) < split(b);
}

// A serial driver entry whose port type is 0 has no UART behind it (the 8250 driver
// registers such phantom ports).
bool HasNoUart(const fs::path& ttyEntry) {
    std::ifstream type(ttyEntry / "type");
    int value = -1;
    return type >> value && value == 0;
}

}  // namespace

std::string VirtualPortDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && *runtime ? runtime : "/tmp";
    return base + "/vek-ports";
}

std::vector<std::string> ListPosixSerialPorts(const std::string& sysClassTty,
                                              const std::string& devDir,
                                              const std::string& virtualPortDir) {
    std::error_code ec;
    std::vector<std::string> hardware;
    for (const fs::directory_entry& entry : fs::directory_iterator(sysClassTty, ec)) {
        if (!fs::exists(entry.path() / "device", ec) || HasNoUart(entry.path())) continue;
        hardware.push_back(entry.path().filename().string());
    }
    std::sort(hardware.begin(), hardware.end(), NaturalLess);

    std::vector<std::string> virtualPorts;
    for (const fs::directory_entry& entry : fs::directory_iterator(virtualPortDir, ec)) {
        // A link left behind by a line that has ended points nowhere.
        if (entry.is_symlink(ec) && fs::exists(entry.path(), ec)) {
            virtualPorts.push_back(entry.path().string());
        }
    }
    std::sort(virtualPorts.begin(), virtualPorts.end(), NaturalLess);

    std::vector<std::string> names;
    for (const std::string& name : hardware)
        names.push_back(devDir + "/" + name);
    names.insert(names.end(), virtualPorts.begin(), virtualPorts.end());
    return names;
}

std::vector<std::string> SystemPortNames() {
    return ListPosixSerialPorts("/sys/class/tty", "/dev", VirtualPortDirectory());
}
