// One device on a scripted line whose replies a test sets to the byte: identification, block
// and measurement area; it takes block writes (69) and confirmations (14) as a device does.
#pragma once

#include <vector>

#include "support/scripted_port.h"

struct ScriptedDevice {
    uint8_t type = 106, version = 7;
    Bytes block = Bytes(22, 0);
    Bytes measurements = Bytes(10, 0);
    bool silentTo68 = false;
    std::vector<uint8_t> addresses;  // of every request, in order
    std::vector<uint8_t> functions;  // of every request, in order
    std::vector<Bytes> blocksWritten;

    Bytes Answer(const Bytes& request) {
        addresses.push_back(request[0]);
        functions.push_back(request[1]);
        Bytes data;
        switch (request[1]) {
            case 17:
                data = {version, 0xFF, type};
                break;
            case 68:
                if (silentTo68) return {};
                data = block;
                break;
            case 71:
                data = measurements;
                break;
            case 69:
                blocksWritten.emplace_back(request.begin() + 2, request.end() - 2);
                return {};
            case 14:
                return request;
            default:
                return {};
        }
        Bytes frame = {request[0], request[1], static_cast<uint8_t>(data.size())};
        frame.insert(frame.end(), data.begin(), data.end());
        return WithCrc(frame);
    }
    void Measure(int16_t result1, uint8_t status1, uint8_t status2 = 0) {
        measurements = {
            uint8_t(result1 >> 8), uint8_t(result1), status1, 0, 0, 0, 0, status2, 0, 0};
    }
};
