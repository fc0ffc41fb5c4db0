// The serial ports of this system, in the system's order, as the port settings dialog lists
// them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Names to open: on Windows the COM names registered under HARDWARE\DEVICEMAP\SERIALCOMM;
// on Linux the device paths of the hardware ports, then the virtual ports.
std::vector<std::string> SystemPortNames();

// The general text of a port that failed or is gone.
inline constexpr const char* kPortDisconnectedText =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

// What the operator reads when the system refused to open a port, with the system's error
// code (errno on Linux): the cause and its remedy where the system names one, else the
// general disconnection text.
std::string PortRefusalText(const std::string& port, int32_t systemError);

// What a listed port is, for the operator beside its name ("" where the system does not say).
std::string PortDescription(const std::string& port);

#ifndef _WIN32
// The folder where virtual lines (the simulator) publish their ports as links:
// $XDG_RUNTIME_DIR/vek-ports, or /tmp/vek-ports where that variable is unset.
std::string VirtualPortDirectory();

// The Linux listing from the given roots (normally /sys/class/tty, /dev and
// VirtualPortDirectory()): every tty with a hardware device, except serial ports whose
// driver found no UART, in natural name order; then each link of the virtual-port folder
// whose target exists, by name.
std::vector<std::string> ListPosixSerialPorts(const std::string& sysClassTty,
                                              const std::string& devDir,
                                              const std::string& virtualPortDir);

// The description of a port from the given roots: a USB adapter's maker, model and serial
// number from its device in sysfs, the on-board ports as such, the simulator's virtual ports.
std::string DescribePosixSerialPort(const std::string& port, const std::string& sysClassTty,
                                    const std::string& virtualPortDir);
#endif
