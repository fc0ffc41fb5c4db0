#include "link/Comportclass.h"

#include "link/port_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "common/operator_message.h"

namespace {

constexpr uint8_t kPermittedFunctions[] = {1,  2,  3,  4,  5,  6,  14, 15, 17,
                                           18, 66, 67, 68, 69, 70, 71, 100};

// The decimal number at the start of a text, as the line settings are read: digits only,
// anything after them ignored; -1 when the text does not start with a digit.
long LeadingNumber(const std::string& text) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return -1;
    return std::strtol(text.c_str(), nullptr, 10);
}

}  // namespace

int32_t TComPortClass::Baud() const {
    return static_cast<int32_t>(std::clamp(LeadingNumber(BaudText), 0L, long{INT32_MAX}));
}

namespace {

TBaudRate BaudRateOf(long bitsPerSecond) {
    for (TBaudRate rate = br110; rate <= br115200; rate = static_cast<TBaudRate>(rate + 1)) {
        if (BaudRateValue(rate, 0) == static_cast<uint32_t>(bitsPerSecond)) return rate;
    }
    return brCustom;  // not one of the thirteen rates the link offers
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
    if (!IsPermittedFunction(function)) return lrBadFunction;
    if (PayloadLength < 0 || PayloadLength > kMaxPayloadLength ||
        RequestLength != PayloadLength + 4) {
        return lrBadFunction;
    }
    frame[0] = static_cast<uint8_t>(deviceNumber + 1);
    frame[1] = function;
    if (PayloadLength > 0) {
        std::copy_n(payload, PayloadLength, frame.begin() + 2);
        if (function == 70) frame[0] = 0;  // broadcast
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
    if (replyFunction == requestFunction) return HeaderKind::Normal;
    if (replyFunction == (requestFunction | 0x80)) return HeaderKind::Exception;
    return HeaderKind::Foreign;
}

bool TComPortClass::ReplyCheckPasses(const uint8_t* reply, int32_t length) {
    if (length < 2) return false;
    uint16_t crc = Crc16(reply, length - 2);
    return reply[length - 2] == (crc & 0xFF) && reply[length - 1] == (crc >> 8);
}

bool IsAcceptablePortName(const std::string& name) {
#ifdef _WIN32
    return name.find("COM") != std::string::npos || name.find("com") != std::string::npos;
#else
    return !name.empty() && name[0] == '/';
#endif
}

void TComPortClass::ReportPortDisconnected(int32_t systemError) {
    ShowError(PortRefusalText(PortName, systemError));
    if (OnCloseRequest) OnCloseRequest();
}

int32_t TComPortClass::OpenPort() {
    try {
        port_.Close();
    } catch (const EComPort&) {
        ReportPortDisconnected();
    }

    long baud = LeadingNumber(BaudText);
    TBaudRate rate = baud > 0 ? BaudRateOf(baud) : brCustom;
    if (rate == brCustom) return -1;
    port_.SetBaudRate(rate);

    switch (ParityLetter.empty() ? '\0' : ParityLetter[0]) {
        case 'E':
            port_.SetParityBits(prEven);
            break;
        case 'N':
            port_.SetParityBits(prNone);
            break;
        case 'O':
            port_.SetParityBits(prOdd);
            break;
        default:
            return -1;
    }

    switch (LeadingNumber(StopBitsText)) {
        case 1:
            port_.SetStopBits(sbOneStopBit);
            break;
        case 2:
            port_.SetStopBits(sbTwoStopBits);
            break;
        default:
            return -1;
    }

    if (!IsAcceptablePortName(PortName)) return -1;
    port_.SetPort(PortName);

    try {
        port_.Open();
    } catch (const EComPort& e) {
        ReportPortDisconnected(e.WinCode);
    }
    return port_.Connected() ? 0 : -1;
}

void TComPortClass::ClosePort() {
    try {
        port_.Close();
    } catch (const EComPort&) {
    }
}

std::optional<OperatorMessage> ExchangeErrorMessage(int32_t deviceNumber, int32_t code,
                                                    const std::string& portName) {
    const std::string device = "устройство " + std::to_string(deviceNumber + 1) + " " + portName;
    auto warning = [](std::string text) -> OperatorMessage {
        return {std::move(text), "Предупреждение", MessageIcon::Warning};
    };
    auto error = [](std::string text) -> OperatorMessage {
        return {std::move(text), "Ошибка", MessageIcon::Error};
    };
    switch (code) {
        case lrOk:
            return std::nullopt;
        case lrDeviceBusy:
            return warning(device + " Идет запись базы данных. Ждите.");
        case lrReceiveError:
            return warning(device + " ошибка приема данных ");
        case lrShortReply:
            return warning(device + " тайм-аут приема данных");
        case lrNoReply:
            return warning(device + " не отвечает на запрос");
        case lrChecksumError:
            return warning(device + " ошибка контрольной суммы");
        case lrPortOpenFailed:
            return warning(" невозможно открыть последовательный порт ");
        case lrPortNotConfigured:
            return error("вероятно, порт не настроен");
        case lrPortSetupAtPowerOff:
            return error("сбой настройки порта при выключении прибора");
        case lrPortSetupError:
            return error("ошибка настройки порта");
        case lrPortNotConnected:
            return error("Не выбран COM-порт.");
        case lrPortFailed:
            return error(kPortDisconnectedText);
        default: {
            char hex[16];
            const int32_t shown = code & kDeviceExceptionMark ? code & 0xFF : code;
            std::snprintf(hex, sizeof hex, "%02X", static_cast<uint32_t>(shown));
            return warning(device + " ошибка обмена " + hex);
        }
    }
}

void TComPortClass::ReportError(int32_t deviceNumber, int32_t code) {
    // A port that is gone asks the window to close; a port not chosen is closed first.
    if (code == lrPortFailed) return ReportPortDisconnected();
    if (code == lrPortNotConnected) ClosePort();
    if (const auto message = ExchangeErrorMessage(deviceNumber, code, PortName)) {
        ShowOperatorMessage(*message);
    }
}

void TComPortClass::WaitMs(int32_t ms) {
    if (ms <= 0) return;
    const int64_t wait = int64_t{ms} * 1'000'000;
    const int64_t start = clock_.NowNs();
    for (;;) {
        int64_t elapsed = clock_.NowNs() - start;
        if (elapsed >= wait) return;
        clock_.SleepNs(wait - elapsed);
    }
}

int32_t TComPortClass::Transact(int32_t deviceNumber, uint8_t function,
                                std::span<const uint8_t> payload, ReplyBuffer& reply) {
    if (payload.size() > static_cast<size_t>(kMaxPayloadLength)) return lrBadFunction;
    PayloadLength = static_cast<int32_t>(payload.size());
    RequestLength = PayloadLength + 4;
    std::fill_n(request_.begin(), RequestLength, uint8_t{0});
    if (int32_t built =
            BuildRequest(static_cast<uint8_t>(deviceNumber), function, payload.data(), request_)) {
        return built;
    }
    if (!port_.Connected()) return lrPortNotConnected;
    attempts_ = 0;
    int32_t result = lrPortFailed;
    // A port that fails in the middle of an exchange is gone: every caller handles that as a
    // failed transaction with one message.
    try {
        result = Exchange(function, reply);
    } catch (const EComPort&) {
        ClosePort();
    }
    if (Observer) Observer->TransactionEnded(clock_.NowNs(), result, attempts_);
    return result;
}

int TComPortClass::ReadReply(uint8_t* into, int count) {
    const int got = port_.Read(into, count);
    if (Observer) {
        const int64_t now = clock_.NowNs();
        Observer->ReplyRead(now, std::span<const uint8_t>(into, static_cast<size_t>(got)),
                            now - requestWrittenNs_);
    }
    return got;
}

namespace {

// Puts the port's time-outs back however a read with others ends.
class ScopedTimeouts {
  public:
    ScopedTimeouts(TCustomComPort& port, const TComTimeouts& timeouts)
        : port_(port), saved_(port.Timeouts()) {
        port_.SetTimeouts(timeouts);
    }
    ~ScopedTimeouts() {
        try {
            port_.SetTimeouts(saved_);
        } catch (const EComPort&) {
            // The next exchange meets the failed port.
        }
    }
    ScopedTimeouts(const ScopedTimeouts&) = delete;
    ScopedTimeouts& operator=(const ScopedTimeouts&) = delete;

  private:
    TCustomComPort& port_;
    TComTimeouts saved_;
};

}  // namespace

int TComPortClass::ReadHeaderAfterFirstByte(uint8_t* into) {
    int got;
    {
        // The Windows rule "wait up to the constant for the first byte, return at once after".
        TComTimeouts first = port_.Timeouts();
        first.ReadInterval = -1;
        first.ReadTotalMultiplier = -1;
        first.ReadTotalConstant = FirstByteWaitMs;
        ScopedTimeouts scoped(port_, first);
        got = ReadReply(into, 3);
    }
    if (got > 0 && got < 3) got += ReadReply(into + got, 3 - got);
    return got;
}

bool TComPortClass::CountStrayBytes() {
    try {
        DrainStrayBytes();
        return true;
    } catch (const EComPort&) {
        ClosePort();
        return false;
    }
}

void TComPortClass::DrainStrayBytes() {
    TComTimeouts atOnce = port_.Timeouts();
    atOnce.ReadInterval = -1;
    atOnce.ReadTotalMultiplier = 0;
    atOnce.ReadTotalConstant = 0;
    ScopedTimeouts scoped(port_, atOnce);
    constexpr size_t kKept = 256;
    std::array<uint8_t, kKept> scratch;
    int got;
    do {
        got = port_.Read(scratch.data(), static_cast<int>(scratch.size()));
        const size_t kept = std::min<size_t>(got, kKept - std::min(kKept, StrayData.size()));
        StrayData.insert(StrayData.end(), scratch.begin(), scratch.begin() + kept);
    } while (got == static_cast<int>(scratch.size()));
}

int32_t TComPortClass::Exchange(uint8_t function, ReplyBuffer& reply) {
    int32_t headerAttemptsLeft = Stage1Attempts;
    int32_t bodyAttemptsLeft = Stage2Attempts;
    for (;;) {
        WaitMs(SendDelay);
        if (FirstByteWaitMs > 0) DrainStrayBytes();
        // Every pass starts on an empty input, so that what is left of a bad or late reply
        // costs one attempt and does not shift the headers of all the others.
        port_.ClearBuffer(true, true);
        port_.Write(request_.data(), RequestLength);
        ++attempts_;
        if (Observer) {
            requestWrittenNs_ = clock_.NowNs();
            Observer->RequestWritten(requestWrittenNs_,
                                     std::span<const uint8_t>(request_.data(), RequestLength));
        }
        if (ExpectsNoReply(function)) return lrOk;

        int32_t result = lrOk;
        bool headerFailed = false;
        int got = FirstByteWaitMs > 0 ? ReadHeaderAfterFirstByte(reply.data())
                                      : ReadReply(reply.data(), 3);
        if (got != 3) {
            result = got == 0 ? lrNoReply : lrShortReply;
            headerFailed = true;
        } else {
            ReplyByteCount = reply[2];
            ReplyLength = ExpectedReplyLength(function, RequestLength, reply[2]);
            // A reply from another address answers some other request (a late one).
            const HeaderKind kind =
                reply[0] == request_[0] ? ClassifyHeader(function, reply[1]) : HeaderKind::Foreign;
            if (kind == HeaderKind::Exception && reply[2] != 0) {
                ReplyLength = 5;
                return DeviceExceptionResult(reply[2]);
            }
            if (kind == HeaderKind::Foreign) {
                // A reply to some other request: never success, even on the last attempt.
                result = lrReceiveError;
                headerFailed = true;
            } else {
                headerAttemptsLeft = Stage1Attempts;
                const int bodyLength = ReplyLength - 3;
                int body = ReadReply(reply.data() + 3, bodyLength);
                if (body != bodyLength) {
                    result = body == 0 ? lrNoReply : lrShortReply;
                } else if (!ReplyCheckPasses(reply.data(), ReplyLength)) {
                    result = lrChecksumError;
                } else {
                    return lrOk;
                }
            }
        }

        WaitMs(RetryPauseMs);
        int32_t& attemptsLeft = headerFailed ? headerAttemptsLeft : bodyAttemptsLeft;
        if (--attemptsLeft <= 0) return result;
    }
}
