#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "link/port_list.h"

namespace fs = std::filesystem;

namespace {

class PortList : public ::testing::Test {
  protected:
    PortList() {
        char pattern[] = "/tmp/vek-portlist-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root / "sys");
        fs::create_directories(root / "virtual");
    }
    ~PortList() override { fs::remove_all(root); }

    // A /sys/class/tty entry; with a device when hardware, with a port type when given.
    void Tty(const std::string& name, bool hardware, int type = -1) {
        fs::create_directories(root / "sys" / name);
        if (hardware) fs::create_directories(root / "sys" / name / "device");
        if (type >= 0) std::ofstream(root / "sys" / name / "type") << type << "\n";
    }

    std::vector<std::string> List() {
        return ListPosixSerialPorts((root / "sys").string(), "/dev", (root / "virtual").string());
    }

    fs::path root;
};

TEST_F(PortList, HardwarePortsInNaturalOrderThenLiveVirtualPorts) {
    Tty("tty0", false);     // a virtual console
    Tty("ttyS0", true, 4);  // an on-board UART (16550A)
    Tty("ttyS1", true, 0);  // a phantom 8250 port without a UART
    Tty("ttyS10", true, 4);
    Tty("ttyS2", true, 4);
    Tty("ttyUSB0", true);  // USB adapters have no port type
    Tty("ttyACM0", true);
    Tty("ptmx", false);
    fs::path target = root / "pts-target";
    std::ofstream(target).put('x');
    fs::create_symlink(target, root / "virtual" / "ttyVEK1");
    fs::create_symlink(target, root / "virtual" / "ttyVEK0");
    fs::create_symlink(root / "gone", root / "virtual" / "ttyVEK9");  // left by a dead line
    std::ofstream(root / "virtual" / "notes.txt") << "not a port";

    const std::string v = (root / "virtual").string();
    EXPECT_EQ(List(),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10",
                                        "/dev/ttyUSB0", v + "/ttyVEK0", v + "/ttyVEK1"}));
}

TEST_F(PortList, MissingFoldersGiveAnEmptyList) {
    EXPECT_TRUE(
        ListPosixSerialPorts((root / "none").string(), "/dev", (root / "none2").string()).empty());
}

// What each port is: a USB adapter's maker, model and serial number from its USB device in
// sysfs (two adapters of one model told apart), the on-board port, the simulator's port.
TEST_F(PortList, DescriptionsTellThePortsApart) {
    auto usbAdapter = [&](const std::string& tty, const std::string& usb,
                          std::map<std::string, std::string> attributes) {
        const fs::path device = root / "devices" / usb / (usb + ":1.0") / tty;
        fs::create_directories(device);
        for (const auto& [name, value] : attributes)
            std::ofstream(root / "devices" / usb / name) << value << "\n";
        fs::create_directories(root / "sys" / tty);
        fs::create_directory_symlink(device, root / "sys" / tty / "device");
    };
    usbAdapter("ttyUSB0", "1-1",
               {{"idVendor", "0403"},
                {"idProduct", "6001"},
                {"manufacturer", "FTDI"},
                {"product", "FT232R USB UART"},
                {"serial", "A10KX3F2"}});
    usbAdapter("ttyUSB1", "1-2",
               {{"idVendor", "0403"},
                {"idProduct", "6001"},
                {"manufacturer", "FTDI"},
                {"product", "FT232R USB UART"},
                {"serial", "B77QL0Z1"}});
    usbAdapter("ttyACM0", "1-3", {{"idVendor", "1a86"}, {"idProduct", "55d3"}});
    fs::create_directories(root / "devices" / "serial8250" / "ttyS0");
    fs::create_directories(root / "sys" / "ttyS0");
    fs::create_directory_symlink(root / "devices" / "serial8250" / "ttyS0",
                                 root / "sys" / "ttyS0" / "device");

    auto describe = [&](const std::string& port) {
        return DescribePosixSerialPort(port, (root / "sys").string(), (root / "virtual").string());
    };
    EXPECT_EQ(describe("/dev/ttyUSB0"), "FTDI FT232R USB UART, № A10KX3F2");
    EXPECT_EQ(describe("/dev/ttyUSB1"), "FTDI FT232R USB UART, № B77QL0Z1");
    EXPECT_EQ(describe("/dev/ttyACM0"), "USB 1a86:55d3");
    EXPECT_EQ(describe("/dev/ttyS0"), "встроенный последовательный порт");
    EXPECT_EQ(describe((root / "virtual" / "ttyVEK0").string()), "виртуальный порт имитатора");
    EXPECT_EQ(describe("/dev/pts/7"), "");
}

TEST(VirtualPorts, FolderFollowsTheRuntimeDirectory) {
    const char* old = getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(VirtualPortDirectory(), "/run/user/1234/vek-ports");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortDirectory(), "/tmp/vek-ports");
    if (old) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
