// The serial port: its settings, its open/closed state and the blocking reads and writes
// that every exchange with a transducer goes through. Input and output go through a
// platform backend (POSIX termios or Win32 communications calls).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};

enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Line events of the port; the system attaches no handlers to them.
enum TComEvent : unsigned {
    evRxChar = 1u << 0,
    evTxEmpty = 1u << 1,
    evRxFlag = 1u << 2,
    evRing = 1u << 3,
    evBreak = 1u << 4,
    evCTS = 1u << 5,
    evDSR = 1u << 6,
    evError = 1u << 7,
    evRLSD = 1u << 8,
    evRx80Full = 1u << 9,
};
constexpr unsigned kAllComEvents = (1u << 10) - 1;

// Bits per second of a speed setting; brCustom gives the custom rate.
uint32_t BaudRateValue(TBaudRate rate, uint32_t customBaudRate);

struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    bool Replace = false;
    uint8_t ReplaceChar = 0;
};

struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
    uint8_t XonChar = 0x11;
    uint8_t XoffChar = 0x13;
};

struct TComTimeouts {
    int32_t ReadInterval = -1;  // -1 is passed on as MAXDWORD
    int32_t ReadTotalMultiplier = 0;
    int32_t ReadTotalConstant = 0;
    int32_t WriteTotalMultiplier = 100;
    int32_t WriteTotalConstant = 1000;
};

struct TComBuffer {
    int32_t InputSize = 1024;
    int32_t OutputSize = 1024;
};

// The device control block as the port builds it from its settings, field for field as the
// Win32 DCB holds it; the POSIX backend translates it into termios.
struct ComControlBlock {
    uint32_t DCBlength = 28;
    uint32_t BaudRate = 0;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    uint8_t fDtrControl = 0;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    uint8_t fRtsControl = 0;
    bool fAbortOnError = false;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
};

// The communications time-outs as the operating system takes them (32-bit unsigned values).
struct ComTimeoutValues {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// Purge flags, with the Win32 values.
constexpr unsigned kPurgeTxAbort = 0x0001;
constexpr unsigned kPurgeRxAbort = 0x0002;
constexpr unsigned kPurgeTxClear = 0x0004;
constexpr unsigned kPurgeRxClear = 0x0008;

// Failure codes of the port.
enum ComErrorCode {
    CE_OpenFailed = 1,
    CE_WriteFailed = 2,
    CE_ReadFailed = 3,
    CE_PurgeFailed = 5,
    CE_SetStateFailed = 7,
    CE_SetTimeoutsFailed = 8,
    CE_SetupComFailed = 9,
    CE_ClearComFailed = 10,
    CE_PortNotOpen = 24,
};

class EComPort : public std::runtime_error {
  public:
    // winCode is the system error code, -1 when the failure has none.
    EComPort(int code, int32_t winCode = -1);
    int Code;
    int32_t WinCode;
};

// Text of a failure code, without the system error code.
const char* ComErrorText(int code);

// What the port needs from the operating system. Every operation raises EComPort with the
// failure code given in its comment and the system error code.
class ComPortBackend {
  public:
    virtual ~ComPortBackend() = default;
    virtual void Open(const std::string& port) = 0;                  // 1
    virtual void SetupBuffers(int32_t input, int32_t output) = 0;    // 9
    virtual void SetControlBlock(const ComControlBlock& dcb) = 0;    // 7
    virtual void SetTimeouts(const ComTimeoutValues& timeouts) = 0;  // 8
    virtual void Purge(unsigned flags) = 0;                          // 5
    virtual void Close() = 0;                                 // releases the handle; never raises
    virtual int Write(const uint8_t* buffer, int count) = 0;  // 2
    virtual int Read(uint8_t* buffer, int count) = 0;         // 3, 10
};

// The backend of this platform.
std::unique_ptr<ComPortBackend> MakeSystemComBackend();

class TCustomComPort {
  public:
    TCustomComPort();
    explicit TCustomComPort(std::unique_ptr<ComPortBackend> backend);
    ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    void Open();
    void Close();
    void ClearBuffer(bool input, bool output);
    int Write(const uint8_t* buffer, int count);
    int Read(uint8_t* buffer, int count);
    bool Connected() const { return connected_; }

    const std::string& Port() const { return port_; }
    void SetPort(const std::string& port);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate rate);
    uint32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(uint32_t rate);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits bits);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits bits);
    const TComParity& Parity() const { return parity_; }
    void SetParity(const TComParity& parity);
    void SetParityBits(TParityBits bits);
    const TComFlowControl& FlowControl() const { return flowControl_; }
    void SetFlowControl(const TComFlowControl& flowControl);
    const TComTimeouts& Timeouts() const { return timeouts_; }
    void SetTimeouts(const TComTimeouts& timeouts);
    const TComBuffer& Buffer() const { return buffer_; }
    void SetBuffer(const TComBuffer& buffer);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool discard);
    uint8_t EventChar() const { return eventChar_; }
    void SetEventChar(uint8_t ch);
    unsigned Events() const { return events_; }
    void SetEvents(unsigned events) { events_ = events; }
    bool TriggersOnRxChar() const { return triggersOnRxChar_; }
    void SetTriggersOnRxChar(bool on) { triggersOnRxChar_ = on; }

    // What the settings give to the operating system.
    ComControlBlock BuildControlBlock() const;
    ComTimeoutValues BuildTimeouts() const;

  private:
    void ApplyControlBlockIfConnected();

    std::unique_ptr<ComPortBackend> backend_;
    bool connected_ = false;

    std::string port_ = "COM1";
    TBaudRate baudRate_ = br9600;
    uint32_t customBaudRate_ = 9600;
    TDataBits dataBits_ = dbEight;
    TStopBits stopBits_ = sbOneStopBit;
    TComParity parity_;
    TComFlowControl flowControl_;
    TComTimeouts timeouts_;
    TComBuffer buffer_;
    bool discardNull_ = false;
    uint8_t eventChar_ = 0;
    unsigned events_ = kAllComEvents;
    bool triggersOnRxChar_ = true;
};

class TComPort : public TCustomComPort {
  public:
    using TCustomComPort::TCustomComPort;
};

// Gives a port the settings that the main window's ComPort1 carries in its design: the read
// time-outs of 100 ms between bytes and 100 ms per byte plus 1000 ms in all.
void ApplyComPort1Design(TCustomComPort& port);
