// The words of the devices' protocol: the function codes the tool sends, where their replies
// carry what the tool takes, the fixed payloads, the type codes and the models' names.
#pragma once

#include <cstdint>

// Function codes.
constexpr uint8_t kFnCalibrationMode = 5;
constexpr uint8_t kFnConfirm = 14;  // the device has stored a written block
constexpr uint8_t kFnIdentify = 17;
constexpr uint8_t kFnReadBlock = 68;
constexpr uint8_t kFnWriteBlock = 69;
constexpr uint8_t kFnMeasurements = 71;

// Byte offsets in a reply frame: address, function, byte count, then the data.
constexpr int kReplyByteCount = 2;
constexpr int kReplyData = 3;
// The identification reply's version and type code (data bytes 1 and 3).
constexpr int kReplyVersion = 3;
constexpr int kReplyType = 5;

constexpr uint8_t kMeasurementRequest[] = {0x00, 0x01};
constexpr uint8_t kCalibrationModeOn[] = {0x10, 0x01, 0xFF, 0x00};
constexpr uint8_t kCalibrationModeOff[] = {0x10, 0x01, 0x00, 0x00};

// Pause that lets the device store a written block before it is asked to confirm.
constexpr int32_t kStoreWaitMs = 2000;

// Device type codes of the identification reply.
constexpr int32_t kTypeVek01 = 105;  // one measuring channel
constexpr int32_t kTypeVek02 = 106;  // two measuring channels
constexpr int32_t kTypeUndetermined = 255;

// The two models the tool reads and configures.
constexpr bool IsServedModel(int32_t type) {
    return type == kTypeVek01 || type == kTypeVek02;
}

// The model's name of a type code ("ВЭК-02МЕ", "КСВЛ", ...); empty for a code of no known model.
const char* ModelName(int32_t type);
