// The Win32 serial port on a real line for the port contract (port_contract_test.cpp): under
// Wine, a pseudo-terminal linked into the prefix as VEK_TEST_LINE_PORT (a two-digit COM
// name), whose far end (line_peer) takes text commands written to the line by the port itself.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/port_contract.h"

namespace {

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class LinePeerFarEnd final : public PortFarEnd {
  public:
    std::string PortName() const override { return VEK_TEST_LINE_PORT; }
    // The peer echoes the next bytes it receives back to the port.
    void WillReceive(TComPort& port, int count) override {
        Command(port, "echo " + std::to_string(count));
    }
    Bytes Received(TComPort& port, int count) override { return Read(port, count); }
    void SendAfter(TComPort& port, int delayMs, const Bytes& bytes) override {
        std::string hex;
        char digits[3];
        for (uint8_t b : bytes) {
            std::snprintf(digits, sizeof digits, "%02X", b);
            hex += digits;
        }
        Command(port, "send " + std::to_string(delayMs) + " " + hex);
    }
    std::string LineSettings(TComPort& port) override {
        Command(port, "line");
        const Bytes reply = Read(port, 32);
        std::string text(reply.begin(), reply.end());
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

  private:
    static void Command(TComPort& port, const std::string& text) {
        const std::string line = text + "\n";
        port.Write(reinterpret_cast<const uint8_t*>(line.data()), static_cast<int>(line.size()));
    }
    static Bytes Read(TComPort& port, int count) {
        Bytes buffer(count);
        buffer.resize(port.Read(buffer.data(), count));
        return buffer;
    }
};

}  // namespace

std::unique_ptr<PortFarEnd> MakePortFarEnd() {
    return std::make_unique<LinePeerFarEnd>();
}

const PortFacts& ThisPlatformsPortFacts() {
    // Wine does not enforce the exclusive share mode of a serial device.
    static const PortFacts facts{"COM97", ERROR_FILE_NOT_FOUND,
                                 RunningUnderWine() ? 0 : static_cast<int32_t>(ERROR_ACCESS_DENIED),
                                 ERROR_INVALID_HANDLE};
    return facts;
}
