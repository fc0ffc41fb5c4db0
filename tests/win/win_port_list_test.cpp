// The Windows port list read from the registry, under Wine's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "link/port_list.h"

namespace {

const char* const kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Adds values to the system's port key for one test and takes them away again.
class RegisteredPorts : public ::testing::Test {
  protected:
    RegisteredPorts() {
        DWORD disposition = 0;
        // Keys under HARDWARE exist only while the system runs.
        EXPECT_EQ(
            ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key_, &disposition),
            ERROR_SUCCESS);
    }
    ~RegisteredPorts() override {
        for (const std::string& name : added_)
            ::RegDeleteValueA(key_, name.c_str());
        ::RegCloseKey(key_);
    }

    void Add(const std::string& name, const std::string& port) {
        ASSERT_EQ(::RegSetValueExA(key_, name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(port.c_str()),
                                   static_cast<DWORD>(port.size() + 1)),
                  ERROR_SUCCESS);
        added_.push_back(name);
    }

    HKEY key_ = nullptr;
    std::vector<std::string> added_;
};

TEST_F(RegisteredPorts, ListsEveryRegisteredPortInRegistryOrderUnsorted) {
    const std::vector<std::string> before = SystemPortNames();
    // Names that list last, whose port names are out of order. Windows lists values in the
    // order they were stored, Wine by name: these names agree in both.
    Add("\\Device\\~VekSerial0", "COM41");
    Add("\\Device\\~VekSerial1", "COM40");
    Add("\\Device\\~VekSerial2", "COM3");
    std::vector<std::string> expected = before;
    expected.insert(expected.end(), {"COM41", "COM40", "COM3"});
    EXPECT_EQ(SystemPortNames(), expected);
}

TEST(UnregisteredPorts, MissingKeyGivesAnEmptyList) {
    // Takes the key away for the test and puts its values back afterwards.
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::pair<std::string, std::string>> saved;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        char data[256] = {};
        DWORD dataLength = sizeof data - 1;
        if (::RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(data), &dataLength) != ERROR_SUCCESS) {
            break;
        }
        saved.emplace_back(name, data);
    }
    ::RegCloseKey(key);
    ASSERT_EQ(::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSerialComm), ERROR_SUCCESS);

    EXPECT_TRUE(SystemPortNames().empty());

    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const auto& [name, port] : saved) {
        ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                         static_cast<DWORD>(port.size() + 1));
    }
    ::RegCloseKey(key);
    EXPECT_EQ(SystemPortNames().size(), saved.size());
}

}  // namespace
