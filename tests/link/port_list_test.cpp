#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

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
