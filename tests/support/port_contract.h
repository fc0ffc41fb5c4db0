// The serial port's contract, one suite for both backends (port_contract_test.cpp): the POSIX
// port on a pseudo-terminal and the Win32 port under Wine on a COM port. Each platform's test
// program supplies the far end of its line and the facts in which the platforms differ.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/Cport.h"

class PortFarEnd {
  public:
    using Bytes = std::vector<uint8_t>;
    virtual ~PortFarEnd() = default;
    // The name that opens the port on the line.
    virtual std::string PortName() const = 0;
    // Readies the far end to take `count` bytes that the open port is about to write; then
    // Received gives them (waiting up to 2 s).
    virtual void WillReceive(TComPort& port, int count) = 0;
    virtual Bytes Received(TComPort& port, int count) = 0;
    // The far end sends `bytes` in one write `delayMs` after this call, which returns at once.
    virtual void SendAfter(TComPort& port, int delayMs, const Bytes& bytes) = 0;
    // The line's settings as the far end sees them: "SPEED DATABITS STOPBITS".
    virtual std::string LineSettings(TComPort& port) = 0;
};

struct PortFacts {
    std::string missingPort;   // a name that opens nothing
    int32_t missingError;      // its system error code
    int32_t heldError;         // of a second open of an open port; 0 where the system allows it
    int32_t closedPurgeError;  // of emptying a closed port's buffers
};

// Supplied by each platform's test program.
std::unique_ptr<PortFarEnd> MakePortFarEnd();
const PortFacts& ThisPlatformsPortFacts();
