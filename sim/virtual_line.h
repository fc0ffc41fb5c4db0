// The simulated RS-485 line: up to 32 devices sharing one pair of wires. A frame cut from the
// line goes to the device whose bus address it carries; that device's reply comes back with
// whatever faults the device has been told to show on the wire.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "virtual_device.h"

namespace vsim {

constexpr size_t kMaxDevices = 32;

// The bytes a device puts on the line for one request. When splitGapMs is set the line goes
// quiet for that long after the first splitAt bytes.
struct WireReply {
    std::vector<uint8_t> bytes;
    size_t splitAt = 0;
    int splitGapMs = 0;
};

class VirtualLine {
  public:
    // Adds a device; nullptr when its address is outside 1..32 or taken, or the line is full.
    VirtualDevice* Add(int address, uint8_t type, uint8_t version = 1,
                       SimTime now = SimClock::now());
    bool Remove(int address, SimTime now = SimClock::now());
    // The device answering at a bus address now (the first one, should two share it).
    VirtualDevice* Find(int address, SimTime now = SimClock::now());
    const std::vector<std::unique_ptr<VirtualDevice>>& Devices() const { return devices_; }

    // Busy time after a block write, for every device present and added later.
    void SetBusyTime(std::chrono::milliseconds time);
    std::chrono::milliseconds BusyTime() const { return busyTime_; }
    // Pause between the end of a request and the first byte of the reply.
    int TurnaroundMs() const { return turnaroundMs_; }
    void SetTurnaroundMs(int ms) { turnaroundMs_ = ms < 0 ? 0 : ms; }

    // Handles one frame cut from the line by silence. `note` gets a short account of a frame
    // that draws no reply (bad checksum, nobody at the address, ...).
    std::optional<WireReply> Process(std::span<const uint8_t> frame, SimTime now,
                                     std::string* note = nullptr);

  private:
    std::vector<std::unique_ptr<VirtualDevice>> devices_;
    std::vector<int> replyCounts_;  // per device, for dropping every Nth reply
    std::chrono::milliseconds busyTime_{1000};
    int turnaroundMs_ = 5;
};

}  // namespace vsim
