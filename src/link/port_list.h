// The serial ports of this system, in the system's order, as the port settings dialog lists
// them.
#pragma once

#include <string>
#include <vector>

// Names to open: on Windows the COM names registered under HARDWARE\DEVICEMAP\SERIALCOMM;
// on Linux the device paths of the hardware ports, then the virtual ports.
std::vector<std::string> SystemPortNames();

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
#endif
