#include "Comportclass.h"

#include <algorithm>

#include "../ui/operator_message.h"

const char* const kPortDisconnectedText =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

namespace {

constexpr uint8_t kPermittedFunctions[] = {1,  2,  3,  4,  5,  6,  14, 15, 17,
                                           18, 66, 67, 68, 69, 70, 71, 100};

bool ExpectsNoReply(uint8_t function) {
    return function == 69 || function == 70;
}

}  // namespace

TComPortClass::TComPortClass(TCustomComPort& port, LinkClock& clock) : port_(port), clock_(clock) {}

// A count below 1 would never run out and the transaction would never end.
void TComPortClass::SetStage1Attempts(int32_t value) {
    Stage1Attempts = std::max(value, 1);
}
void TComPortClass::SetStage2Attempts(int32_t value) {
    Stage2Attempts = std::max(value, 1);
}

bool TComPortClass::IsPermittedFunction(uint8_t function) {
    return std::find(std::begin(kPermittedFunctions), std::end(kPermittedFunctions), function) !=
           std::end(kPermittedFunctions);
}

uint16_t TComPortClass::Crc16(const uint8_t* bytes, int32_t count) {
    uint16_t crc = 0xFFFF;
    for (int32_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : (crc >> 1);
        }
    }
    return crc;
}

int32_t TComPortClass::BuildRequest(uint8_t deviceNumber, uint8_t function, const uint8_t* payload,
                                    FrameArea& frame) const {
    if (!IsPermittedFunction(function))
        return lrBadFunction;
    if (PayloadLength < 0 || PayloadLength > kMaxPayloadLength ||
        RequestLength != PayloadLength + 4) {
        return lrBadFunction;
    }
    frame[0] = static_cast<uint8_t>(deviceNumber + 1);
    frame[1] = function;
    if (PayloadLength > 0) {
        std::copy_n(payload, PayloadLength, frame.begin() + 2);
        if (function == 70)
            frame[0] = 0;  // broadcast
    }
    uint16_t crc = Crc16(frame.data(), RequestLength - 2);
    frame[PayloadLength + 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[PayloadLength + 3] = static_cast<uint8_t>(crc >> 8);
    return lrOk;
}

int32_t TComPortClass::ExpectedReplyLength(uint8_t requestFunction, int32_t requestLength,
                                           uint8_t headerByteCount) {
    switch (requestFunction) {
        case 5:
        case 14:
            return requestLength;
        case 15:
            return 8;
        case 69:
        case 70:
            return 0;
        default:
            return headerByteCount + 5;
    }
}

HeaderKind TComPortClass::ClassifyHeader(uint8_t requestFunction, uint8_t replyFunction) {
    if (replyFunction == requestFunction)
        return HeaderKind::Normal;
    if (replyFunction == (requestFunction | 0x80))
        return HeaderKind::Exception;
    return HeaderKind::Foreign;
}

bool TComPortClass::ReplyCheckPasses(const uint8_t* reply, int32_t length) {
    if (length < 2)
        return false;
    uint16_t crc = Crc16(reply, length - 2);
    return reply[length - 2] == (crc & 0xFF) && reply[length - 1] == (crc >> 8);
}

void TComPortClass::ReportPortDisconnected() {
    ShowOperatorMessage({kPortDisconnectedText, "Ошибка", MessageIcon::Error, MessageButtons::Ok,
                         MessageAnswer::Ok});
    if (OnCloseRequest)
        OnCloseRequest();
}

void TComPortClass::WaitMs(int32_t ms) {
    if (ms <= 0)
        return;
    const int64_t start = clock_.NowMs();
    for (;;) {
        int64_t elapsed = clock_.NowMs() - start;
        if (elapsed >= ms)
            return;
        clock_.SleepMs(ms - elapsed);
    }
}

int32_t TComPortClass::Transact(int32_t deviceNumber, uint8_t function,
                                std::span<const uint8_t> payload, ReplyBuffer& reply) {
    if (payload.size() > static_cast<size_t>(kMaxPayloadLength))
        return lrBadFunction;
    PayloadLength = static_cast<int32_t>(payload.size());
    RequestLength = PayloadLength + 4;
    std::fill_n(request_.begin(), RequestLength, uint8_t{0});
    if (int32_t built =
            BuildRequest(static_cast<uint8_t>(deviceNumber), function, payload.data(), request_)) {
        return built;
    }
    if (!port_.Connected())
        return lrPortNotConnected;
    try {
        port_.ClearBuffer(true, true);
    } catch (const EComPort&) {
        ReportPortDisconnected();  // and the exchange still runs
    }
    return Exchange(function, reply);
}

int32_t TComPortClass::Exchange(uint8_t function, ReplyBuffer& reply) {
    int32_t headerAttemptsLeft = Stage1Attempts;
    int32_t bodyAttemptsLeft = Stage2Attempts;
    for (;;) {
        WaitMs(SendDelay);
        port_.Write(request_.data(), RequestLength);
        if (ExpectsNoReply(function))
            return lrOk;

        int32_t result = lrOk;
        bool headerFailed = false;
        int got = port_.Read(reply.data(), 3);
        if (got != 3) {
            result = got == 0 ? lrNoReply : lrShortReply;
            headerFailed = true;
        } else {
            ReplyByteCount = reply[2];
            ReplyLength = ExpectedReplyLength(function, RequestLength, reply[2]);
            HeaderKind kind = ClassifyHeader(function, reply[1]);
            if (kind == HeaderKind::Exception && reply[2] != 0) {
                ReplyLength = 5;
                return reply[2];
            }
            if (kind == HeaderKind::Foreign) {
                // A reply to some other request: never success, even on the last attempt.
                result = lrReceiveError;
                headerFailed = true;
            } else {
                headerAttemptsLeft = Stage1Attempts;
                const int bodyLength = ReplyLength - 3;
                int body = port_.Read(reply.data() + 3, bodyLength);
                if (body != bodyLength) {
                    result = body == 0 ? lrNoReply : lrShortReply;
                } else if (!ReplyCheckPasses(reply.data(), ReplyLength)) {
                    result = lrChecksumError;
                } else {
                    return lrOk;
                }
            }
        }

        WaitMs(kRetryPauseMs);
        int32_t& attemptsLeft = headerFailed ? headerAttemptsLeft : bodyAttemptsLeft;
        if (--attemptsLeft <= 0)
            return result;
    }
}
