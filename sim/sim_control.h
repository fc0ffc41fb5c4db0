// The operator's side of the simulator: the command line of vek-sim, the commands it takes on
// standard input, and the demonstration line it serves without options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "virtual_line.h"

namespace vsim {

struct DeviceSpec {
    int address = 1;
    int type = kTypeVek02;
    int version = 1;
};

struct SimOptions {
    std::vector<DeviceSpec> devices;  // empty: the demonstration line
    int baud = 9600;
    std::string name;  // empty: ttyVEK0, or the next free ttyVEKn
    int busyMs = 1000;
    int turnaroundMs = 5;
    std::vector<std::string> commands;  // run before serving, as if typed
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name. On failure `error` holds the message.
std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args, std::string& error);
// Parses "N:TYPE[:VERSION]".
std::optional<DeviceSpec> ParseDeviceSpec(const std::string& text, std::string& error);

std::string UsageText();

// Two ВЭК-02МЕ / ВЭК-01МЕ devices in privileged mode and one device of another model.
void BuildDemoLine(VirtualLine& line, SimTime now = SimClock::now());
// The devices of the options, or the demonstration line; busy and turnaround times.
std::string BuildLine(const SimOptions& options, VirtualLine& line, SimTime now = SimClock::now());

struct CommandResult {
    std::string text;  // to print; starts with "error: " when the command was refused
    bool quit = false;
};

// Runs one command line against the line.
CommandResult RunCommand(const std::string& command, VirtualLine& line,
                         SimTime now = SimClock::now());

// Name of a type code as the device list shows it, or "" when it has none.
const char* TypeName(int type);

}  // namespace vsim
