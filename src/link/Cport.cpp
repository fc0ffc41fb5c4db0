#include "link/Cport.h"

#include <string>

namespace {

std::string ComErrorMessage(int code, int32_t winCode) {
    std::string text = ComErrorText(code);
    if (winCode > 0) text += " (Error: " + std::to_string(winCode) + ")";
    return text;
}

}  // namespace

const char* ComErrorText(int code) {
    switch (code) {
        case CE_OpenFailed:
            return "Unable to open com port";
        case CE_WriteFailed:
            return "WriteFile function failed";
        case CE_ReadFailed:
            return "ReadFile function failed";
        case CE_PurgeFailed:
            return "PurgeComm function failed";
        case CE_SetStateFailed:
            return "SetCommState function failed";
        case CE_SetTimeoutsFailed:
            return "SetCommTimeouts failed";
        case CE_SetupComFailed:
            return "SetupComm function failed";
        case CE_ClearComFailed:
            return "ClearCommError function failed";
        case CE_PortNotOpen:
            return "Port Not Open";
        default:
            return "Serial port failure";
    }
}

EComPort::EComPort(int code, int32_t winCode)
    : std::runtime_error(ComErrorMessage(code, winCode)), Code(code), WinCode(winCode) {}

uint32_t BaudRateValue(TBaudRate rate, uint32_t customBaudRate) {
    static constexpr uint32_t kRates[] = {0,     110,    300,    600,   1200,  2400,
                                          4800,  9600,   14400,  19200, 38400, 56000,
                                          57600, 115200, 128000, 256000};
    if (rate == brCustom) return customBaudRate;
    return kRates[rate];
}

TCustomComPort::TCustomComPort() : TCustomComPort(MakeSystemComBackend()) {}

TCustomComPort::TCustomComPort(std::unique_ptr<ComPortBackend> backend)
    : backend_(std::move(backend)) {}

TCustomComPort::~TCustomComPort() {
    if (!connected_) return;
    // A destructor cannot report; the handle is released whatever the purge says.
    try {
        backend_->Purge(kPurgeTxAbort | kPurgeRxAbort);
    } catch (const EComPort&) {
    }
    backend_->Close();
}

void TCustomComPort::Open() {
    if (connected_) return;
    backend_->Open(port_);
    connected_ = true;
    try {
        backend_->SetupBuffers(buffer_.InputSize, buffer_.OutputSize);
        backend_->SetControlBlock(BuildControlBlock());
        backend_->SetTimeouts(BuildTimeouts());
    } catch (...) {
        backend_->Close();
        connected_ = false;
        throw;
    }
}

// A port whose purge fails (an adapter that is gone) is still closed, so that it can be
// opened again once it is back; the purge's failure passes on afterwards.
void TCustomComPort::Close() {
    if (!connected_) return;
    try {
        backend_->Purge(kPurgeTxAbort | kPurgeRxAbort);
    } catch (const EComPort&) {
        backend_->Close();
        connected_ = false;
        throw;
    }
    backend_->Close();
    connected_ = false;
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
    unsigned flags = 0;
    if (input) flags |= kPurgeRxClear;
    if (output) flags |= kPurgeTxClear;
    backend_->Purge(flags);  // a closed port fails here like any other purge
}

int TCustomComPort::Write(const uint8_t* buffer, int count) {
    if (!connected_) throw EComPort(CE_PortNotOpen);
    if (count <= 0) return 0;
    return backend_->Write(buffer, count);
}

int TCustomComPort::Read(uint8_t* buffer, int count) {
    if (!connected_) throw EComPort(CE_PortNotOpen);
    if (count <= 0) return 0;
    return backend_->Read(buffer, count);
}

void TCustomComPort::SetPort(const std::string& port) {
    if (port == port_) return;
    port_ = port;
    if (connected_) {
        Close();
        Open();
    }
}

void TCustomComPort::ApplyControlBlockIfConnected() {
    if (connected_) backend_->SetControlBlock(BuildControlBlock());
}

void TCustomComPort::SetBaudRate(TBaudRate rate) {
    if (rate == baudRate_) return;
    baudRate_ = rate;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetCustomBaudRate(uint32_t rate) {
    if (rate == customBaudRate_) return;
    customBaudRate_ = rate;
    if (baudRate_ == brCustom) ApplyControlBlockIfConnected();
}

void TCustomComPort::SetDataBits(TDataBits bits) {
    if (bits == dataBits_) return;
    dataBits_ = bits;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetStopBits(TStopBits bits) {
    if (bits == stopBits_) return;
    stopBits_ = bits;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetParity(const TComParity& parity) {
    parity_ = parity;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetParityBits(TParityBits bits) {
    if (bits == parity_.Bits) return;
    parity_.Bits = bits;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& flowControl) {
    flowControl_ = flowControl;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetDiscardNull(bool discard) {
    if (discard == discardNull_) return;
    discardNull_ = discard;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetEventChar(uint8_t ch) {
    if (ch == eventChar_) return;
    eventChar_ = ch;
    ApplyControlBlockIfConnected();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& timeouts) {
    timeouts_ = timeouts;
    if (connected_) backend_->SetTimeouts(BuildTimeouts());
}

void TCustomComPort::SetBuffer(const TComBuffer& buffer) {
    buffer_ = buffer;
    if (connected_) backend_->SetupBuffers(buffer_.InputSize, buffer_.OutputSize);
}

ComControlBlock TCustomComPort::BuildControlBlock() const {
    ComControlBlock dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = BaudRateValue(baudRate_, customBaudRate_);
    dcb.fBinary = true;
    dcb.fParity = parity_.Check;
    dcb.fOutxCtsFlow = flowControl_.OutCTSFlow;
    dcb.fOutxDsrFlow = flowControl_.OutDSRFlow;
    dcb.fDtrControl = static_cast<uint8_t>(flowControl_.ControlDTR);
    dcb.fDsrSensitivity = flowControl_.DSRSensitivity;
    dcb.fTXContinueOnXoff = flowControl_.TxContinueOnXoff;
    dcb.fOutX = flowControl_.XonXoffOut;
    dcb.fInX = flowControl_.XonXoffIn;
    dcb.fErrorChar = parity_.Check && parity_.Replace;
    dcb.fNull = discardNull_;
    dcb.fRtsControl = static_cast<uint8_t>(flowControl_.ControlRTS);
    dcb.fAbortOnError = false;
    dcb.XonLim = static_cast<uint16_t>(buffer_.InputSize / 4);
    dcb.XoffLim = static_cast<uint16_t>(buffer_.InputSize / 4);
    static constexpr uint8_t kByteSizes[] = {5, 6, 7, 8};
    dcb.ByteSize = kByteSizes[dataBits_];
    dcb.Parity = static_cast<uint8_t>(parity_.Bits);
    dcb.StopBits = static_cast<uint8_t>(stopBits_);
    dcb.XonChar = flowControl_.XonChar;
    dcb.XoffChar = flowControl_.XoffChar;
    dcb.ErrorChar = dcb.fErrorChar ? parity_.ReplaceChar : 0;
    dcb.EofChar = 0;
    dcb.EvtChar = eventChar_;
    return dcb;
}

ComTimeoutValues TCustomComPort::BuildTimeouts() const {
    ComTimeoutValues t;
    t.ReadIntervalTimeout =
        timeouts_.ReadInterval == -1 ? kMaxDword : static_cast<uint32_t>(timeouts_.ReadInterval);
    t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(timeouts_.ReadTotalMultiplier);
    t.ReadTotalTimeoutConstant = static_cast<uint32_t>(timeouts_.ReadTotalConstant);
    t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(timeouts_.WriteTotalMultiplier);
    t.WriteTotalTimeoutConstant = static_cast<uint32_t>(timeouts_.WriteTotalConstant);
    return t;
}

void ApplyComPort1Design(TCustomComPort& port) {
    TComTimeouts timeouts = port.Timeouts();
    timeouts.ReadInterval = 100;
    timeouts.ReadTotalMultiplier = 100;
    timeouts.ReadTotalConstant = 1000;
    port.SetTimeouts(timeouts);
}
