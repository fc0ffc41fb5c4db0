#include <windows.h>

#include "link/Comportclass.h"
#include "link/port_list.h"

std::vector<std::string> SystemPortNames() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD valueNameLength = sizeof valueName;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        LONG result = ::RegEnumValueA(key, index, valueName, &valueNameLength, nullptr, &type, data,
                                      &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataLength] = 0;  // the stored string need not be terminated
        names.emplace_back(reinterpret_cast<const char*>(data));
    }
    ::RegCloseKey(key);
    return names;
}

std::string PortRefusalText(const std::string&, int32_t) {
    return kPortDisconnectedText;
}

std::string PortDescription(const std::string&) {
    return {};
}
