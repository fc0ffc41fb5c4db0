// The link object: the one connection of the tool to the device line. It frames requests,
// runs request-reply transactions with their attempt counts and delays, and holds the line
// settings that are applied to the serial port when it opens.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/operator_message.h"
#include "link/Cport.h"
#include "link/link_clock.h"

// Result codes of a transaction and of the link's own operations.
enum LinkResult : int32_t {
    lrOk = 0,
    lrBadFunction = 1,
    lrDeviceBusy = 6,
    lrReceiveError = 128,
    lrShortReply = 129,
    lrNoReply = 130,
    lrChecksumError = 131,
    lrPortOpenFailed = 132,
    lrPortNotConfigured = 133,
    lrPortSetupAtPowerOff = 134,
    lrPortSetupError = 135,
    lrPortNotConnected = 256,
    // The serial port failed during the exchange (adapter pulled, line gone); the link has
    // closed it so that the operator can open it again once it is back.
    lrPortFailed = 257,
};

// A device's exception code of 0x80 or more is returned with this mark, so that it can never
// pass for one of the link's own codes 128..135 (0x84 would read as a port that cannot be
// opened). Lower codes are returned as they come: 6 is the device's busy exception.
constexpr int32_t kDeviceExceptionMark = 0x10000;
constexpr int32_t DeviceExceptionResult(uint8_t code) {
    return code >= 0x80 ? kDeviceExceptionMark | code : code;
}

// A request is built in a fixed area; the longest payload leaves room for the four bytes of
// address, function code and checksum.
constexpr int kFrameAreaSize = 3004;
constexpr int kMaxPayloadLength = kFrameAreaSize - 4;
using FrameArea = std::array<uint8_t, kFrameAreaSize>;

// Room for the longest reply any request can draw: a counted reply is at most 260 bytes, a
// fixed-length echo as long as its request.
using ReplyBuffer = FrameArea;

enum class HeaderKind { Normal, Exception, Foreign };

// Watches the link's traffic, for an exchange monitor. Called on the thread that exchanges,
// in the order things happen; times are the link clock's, in nanoseconds. With no observer
// installed the link does exactly what it does with one.
class LinkObserver {
  public:
    virtual ~LinkObserver() = default;
    // A request frame as it was written to the port.
    virtual void RequestWritten(int64_t timeNs, std::span<const uint8_t> frame) = 0;
    // One read of the reply: the bytes that came (none on a time-out) and how long after the
    // request's write the read ended.
    virtual void ReplyRead(int64_t timeNs, std::span<const uint8_t> bytes,
                           int64_t sinceRequestNs) = 0;
    // The end of a transaction that reached the port: its result and the requests it wrote.
    virtual void TransactionEnded(int64_t timeNs, int32_t result, int32_t attempts) = 0;
};

class TComPortClass {
  public:
    explicit TComPortClass(TCustomComPort& port, LinkClock& clock = SystemLinkClock());

    int32_t GetStage1Attempts() const { return Stage1Attempts; }
    void SetStage1Attempts(int32_t value);
    int32_t GetStage2Attempts() const { return Stage2Attempts; }
    void SetStage2Attempts(int32_t value);
    int32_t GetSendDelay() const { return SendDelay; }
    void SetSendDelay(int32_t value) { SendDelay = value; }
    int32_t GetReceiveDelay() const { return ReceiveDelay; }
    void SetReceiveDelay(int32_t value) { ReceiveDelay = value; }

    // One complete exchange with device number deviceNumber (0..31): 0 when the whole reply
    // arrived with a right checksum (functions 69 and 70: when the request was sent), else a
    // failure code of LinkResult or the device's exception code (DeviceExceptionResult). The
    // reply holds the frame
    // from its address byte on. A payload longer than kMaxPayloadLength is refused with
    // lrBadFunction. A failure of the port while it is emptied, written or read closes the
    // port and ends the exchange with lrPortFailed.
    int32_t Transact(int32_t deviceNumber, uint8_t function, std::span<const uint8_t> payload,
                     ReplyBuffer& reply);

    // Waits the given time on the link's steady clock, sleeping instead of spinning.
    void WaitMs(int32_t ms);
    // The clock the link waits on and stamps what its observer sees with.
    LinkClock& Clock() const { return clock_; }

    // Frames a request from PayloadLength and RequestLength: 0, or lrBadFunction for a code
    // outside the permitted table or a length that does not fit the area (frame untouched).
    int32_t BuildRequest(uint8_t deviceNumber, uint8_t function, const uint8_t* payload,
                         FrameArea& frame) const;

    // CRC-16/MODBUS of the first count bytes; 0xFFFF for a count of 0 or less.
    static uint16_t Crc16(const uint8_t* bytes, int32_t count);
    static bool IsPermittedFunction(uint8_t function);
    // The requests that get no reply: the block write (69) and the broadcast (70).
    static bool ExpectsNoReply(uint8_t function) { return function == 69 || function == 70; }
    // Expected length of the reply to a request, from the request's function code and the
    // header's byte count; 0 for the requests that get no reply (69, 70).
    static int32_t ExpectedReplyLength(uint8_t requestFunction, int32_t requestLength,
                                       uint8_t headerByteCount);
    static HeaderKind ClassifyHeader(uint8_t requestFunction, uint8_t replyFunction);
    // The last two bytes of the length bytes are the CRC of the others, low byte first.
    static bool ReplyCheckPasses(const uint8_t* reply, int32_t length);

    // Applies the line settings to the serial port and opens it: 0 when it is open
    // afterwards, -1 otherwise. A refused setting returns -1 silently; each setting read
    // before it has been applied, and the port stays closed.
    int32_t OpenPort();
    // Closes the serial port; its errors are swallowed.
    void ClosePort();
    bool PortConnected() const { return port_.Connected(); }
    // Shows the operator message of a result code for device number deviceNumber (0-based).
    void ReportError(int32_t deviceNumber, int32_t code);

    // Shows the port-disconnection message and asks the main window to close: the port
    // failed while it was opened or in an exchange (lrPortFailed). A refused open names its
    // cause from the system's error code, where there is one.
    void ReportPortDisconnected(int32_t systemError = -1);

    const FrameArea& RequestArea() const { return request_; }
    int32_t GetRequestLength() const { return RequestLength; }
    int32_t GetPayloadLength() const { return PayloadLength; }
    int32_t GetReplyLength() const { return ReplyLength; }
    int32_t GetReplyByteCount() const { return ReplyByteCount; }

    // Asks the main window to close; installed by the main window.
    std::function<void()> OnCloseRequest;

    // The fast search of the line (LineSearch sets these for its first pass). With a
    // first-byte wait above 0 a reply's first byte is waited for that long only; once it has
    // come, the header has its whole time-out, so a device that has begun to answer is never
    // cut off. The bytes found waiting before each request (a late reply to an earlier one)
    // are then kept in StrayData instead of being discarded unseen: up to 256 of them, until
    // the caller clears it.
    int32_t FirstByteWaitMs = 0;
    std::vector<uint8_t> StrayData;
    // Pause after a failed attempt.
    int32_t RetryPauseMs = 300;
    // Moves what is waiting in the port's input into StrayData: false when the port failed
    // (it is closed then).
    bool CountStrayBytes();
    // Sees every frame that goes out and comes in; none unless a monitor installs one.
    LinkObserver* Observer = nullptr;

    // Line settings as the port settings command writes them: speed in bit/s as decimal
    // digits, parity letter N/O/E, stop bits "1" or "2", and the port's name. Device paths
    // of POSIX systems are longer than a COM name; the name is kept whole.
    std::string BaudText = "9600";
    std::string ParityLetter = "N";
    std::string StopBitsText = "2";
    std::string PortName = "COM1";
    // The speed the settings name, in bit/s, as the port is set to it; 0 for none.
    int32_t Baud() const;

  private:
    int32_t Exchange(uint8_t function, ReplyBuffer& reply);
    // A read of the reply from the port, shown to the observer.
    int ReadReply(uint8_t* into, int count);
    // The header read of the fast search: the first byte within FirstByteWaitMs, the rest
    // within the port's own time-outs.
    int ReadHeaderAfterFirstByte(uint8_t* into);
    // Moves what is waiting in the port's input into StrayData.
    void DrainStrayBytes();

    int32_t RequestLength = 0;
    int32_t PayloadLength = 0;
    int32_t ReplyLength = 0;
    int32_t ReplyByteCount = 0;
    int32_t Stage1Attempts = 5;
    int32_t Stage2Attempts = 10;
    int32_t SendDelay = 25;
    int32_t ReceiveDelay = 20;
    int32_t attempts_ = 0;          // requests written by the transaction under way
    int64_t requestWrittenNs_ = 0;  // when its last request was written

    TCustomComPort& port_;
    LinkClock& clock_;
    FrameArea request_{};
};

// Lowers the link's attempts for a reply header while a search of the line runs (a silent
// address then costs two rounds, not five) and puts the link's own value back on every way
// out.
class ScopedStage1Attempts {
  public:
    ScopedStage1Attempts(TComPortClass& link, int32_t attempts)
        : link_(link), saved_(link.GetStage1Attempts()) {
        link_.SetStage1Attempts(attempts);
    }
    ~ScopedStage1Attempts() { link_.SetStage1Attempts(saved_); }
    ScopedStage1Attempts(const ScopedStage1Attempts&) = delete;
    ScopedStage1Attempts& operator=(const ScopedStage1Attempts&) = delete;

  private:
    TComPortClass& link_;
    int32_t saved_;
};

// Header attempts of a search of the line: the device list and the check that a new bus
// number is free.
constexpr int32_t kSearchStage1Attempts = 2;

// The operator message of a result code for device number deviceNumber (0-based) on the
// named port; none for success.
std::optional<OperatorMessage> ExchangeErrorMessage(int32_t deviceNumber, int32_t code,
                                                    const std::string& portName);

// The port name check of OpenPort: on Windows the name contains "COM" or "com"; on POSIX
// systems it is an absolute device path.
bool IsAcceptablePortName(const std::string& name);
