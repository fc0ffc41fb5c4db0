#include "virtual_line.h"

#include <algorithm>

#include "frame_crc.h"

namespace vsim {

VirtualDevice* VirtualLine::Add(int address, uint8_t type, uint8_t version, SimTime now) {
    if (address < 1 || address > 32 || devices_.size() >= kMaxDevices || Find(address, now))
        return nullptr;
    auto device = std::make_unique<VirtualDevice>(address, type, version);
    device->SetBusyTime(busyTime_);
    devices_.push_back(std::move(device));
    replyCounts_.push_back(0);
    return devices_.back().get();
}

bool VirtualLine::Remove(int address, SimTime now) {
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i]->BusAddress(now) == address) {
            devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(i));
            replyCounts_.erase(replyCounts_.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

VirtualDevice* VirtualLine::Find(int address, SimTime now) {
    for (auto& device : devices_) {
        if (device->BusAddress(now) == address) return device.get();
    }
    return nullptr;
}

void VirtualLine::SetBusyTime(std::chrono::milliseconds time) {
    busyTime_ = time;
    for (auto& device : devices_)
        device->SetBusyTime(time);
}

std::optional<WireReply> VirtualLine::Process(std::span<const uint8_t> frame, SimTime now,
                                              std::string* note) {
    auto say = [note](const char* text) {
        if (note) *note = text;
        return std::nullopt;
    };
    if (frame.size() < 4) return say("too short for a frame, ignored");
    if (!FrameCrcValid(frame.data(), frame.size())) return say("checksum wrong, ignored");
    if (frame[0] == 0) return say("broadcast, not answered");
    size_t index = 0;
    while (index < devices_.size() && devices_[index]->BusAddress(now) != frame[0])
        ++index;
    if (index == devices_.size()) return say("no device at this address");
    VirtualDevice& device = *devices_[index];
    const DeviceFaults& f = device.faults;
    if (f.silent) return say("device silent (fault)");

    auto answer = device.Answer(frame, now);
    if (!answer) return say("no reply expected");
    if (f.dropEvery > 0 && ++replyCounts_[index] % f.dropEvery == 0)
        return say("reply dropped (fault)");

    WireReply reply{std::move(*answer)};
    auto& bytes = reply.bytes;
    if (f.foreignFunction >= 0) {
        // A code that is neither the request's nor its exception form.
        bytes[1] = f.foreignFunction <= 0xFF ? static_cast<uint8_t>(f.foreignFunction)
                                             : static_cast<uint8_t>((frame[1] & 0x7F) ^ 0x40);
        bytes.resize(bytes.size() - 2);
        AppendCrc(bytes);
    }
    if (f.badCrc) bytes.back() ^= 0x5A;
    if (f.shortLength >= 0 && static_cast<size_t>(f.shortLength) < bytes.size())
        bytes.resize(static_cast<size_t>(f.shortLength));
    if (f.splitGapMs > 0 && bytes.size() > 1) {
        size_t at = f.splitAt > 0 ? static_cast<size_t>(f.splitAt) : bytes.size() / 2;
        reply.splitAt = std::clamp<size_t>(at, 1, bytes.size() - 1);
        reply.splitGapMs = f.splitGapMs;
    }
    if (bytes.empty()) return say("reply cut to nothing (fault)");
    return reply;
}

}  // namespace vsim
