// The serial port on Windows: a communications device opened exclusively for overlapped
// input and output, each read and write started and then waited for, so that callers see a
// blocking port.
#include <windows.h>

#include <vector>

#include "link/Cport.h"

namespace {

// A manual-reset event for one overlapped operation, closed on every path.
class OperationRecord {
  public:
    explicit OperationRecord(int failureCode) {
        overlapped_.hEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (overlapped_.hEvent == nullptr) {
            throw EComPort(failureCode, static_cast<int32_t>(::GetLastError()));
        }
    }
    ~OperationRecord() { ::CloseHandle(overlapped_.hEvent); }
    OperationRecord(const OperationRecord&) = delete;
    OperationRecord& operator=(const OperationRecord&) = delete;

    OVERLAPPED* Overlapped() { return &overlapped_; }

    // Waits for the operation started on the handle and returns its byte count. Wine ends a
    // read that timed out with no byte with ERROR_TIMEOUT instead of success and 0 bytes: that
    // one case counts as 0 bytes received.
    DWORD Finish(HANDLE handle, int failureCode, bool isRead) {
        if (::WaitForSingleObject(overlapped_.hEvent, INFINITE) == WAIT_FAILED) {
            throw EComPort(failureCode, static_cast<int32_t>(::GetLastError()));
        }
        DWORD transferred = 0;
        if (!::GetOverlappedResult(handle, &overlapped_, &transferred, FALSE)) {
            DWORD error = ::GetLastError();
            if (isRead && error == ERROR_TIMEOUT && transferred == 0) return 0;
            throw EComPort(failureCode, static_cast<int32_t>(error));
        }
        return transferred;
    }

  private:
    OVERLAPPED overlapped_{};
};

class Win32ComBackend final : public ComPortBackend {
  public:
    ~Win32ComBackend() override { Close(); }

    void Open(const std::string& port) override {
        // The \\.\ prefix opens ports numbered 10 and above as well.
        const std::string path = "\\\\.\\" + port;
        HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            throw EComPort(CE_OpenFailed, static_cast<int32_t>(::GetLastError()));
        }
        handle_ = handle;
    }

    void SetupBuffers(int32_t input, int32_t output) override {
        if (!::SetupComm(handle_, static_cast<DWORD>(input), static_cast<DWORD>(output))) {
            throw EComPort(CE_SetupComFailed, static_cast<int32_t>(::GetLastError()));
        }
    }

    void SetControlBlock(const ComControlBlock& block) override {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = block.BaudRate;
        dcb.fBinary = block.fBinary;
        dcb.fParity = block.fParity;
        dcb.fOutxCtsFlow = block.fOutxCtsFlow;
        dcb.fOutxDsrFlow = block.fOutxDsrFlow;
        dcb.fDtrControl = block.fDtrControl;
        dcb.fDsrSensitivity = block.fDsrSensitivity;
        dcb.fTXContinueOnXoff = block.fTXContinueOnXoff;
        dcb.fOutX = block.fOutX;
        dcb.fInX = block.fInX;
        dcb.fErrorChar = block.fErrorChar;
        dcb.fNull = block.fNull;
        dcb.fRtsControl = block.fRtsControl;
        dcb.fAbortOnError = block.fAbortOnError;
        dcb.XonLim = block.XonLim;
        dcb.XoffLim = block.XoffLim;
        dcb.ByteSize = block.ByteSize;
        dcb.Parity = block.Parity;
        dcb.StopBits = block.StopBits;
        dcb.XonChar = static_cast<char>(block.XonChar);
        dcb.XoffChar = static_cast<char>(block.XoffChar);
        dcb.ErrorChar = static_cast<char>(block.ErrorChar);
        dcb.EofChar = static_cast<char>(block.EofChar);
        dcb.EvtChar = static_cast<char>(block.EvtChar);
        if (!::SetCommState(handle_, &dcb)) {
            throw EComPort(CE_SetStateFailed, static_cast<int32_t>(::GetLastError()));
        }
    }

    void SetTimeouts(const ComTimeoutValues& t) override {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = t.ReadIntervalTimeout;
        timeouts.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
        timeouts.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
        timeouts.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
        timeouts.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
        if (!::SetCommTimeouts(handle_, &timeouts)) {
            throw EComPort(CE_SetTimeoutsFailed, static_cast<int32_t>(::GetLastError()));
        }
    }

    void Purge(unsigned flags) override {
        if (!::PurgeComm(handle_, flags)) {
            throw EComPort(CE_PurgeFailed, static_cast<int32_t>(::GetLastError()));
        }
    }

    void Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    int Write(const uint8_t* buffer, int count) override {
        OperationRecord record(CE_WriteFailed);
        std::vector<uint8_t> data(buffer, buffer + count);
        if (!::WriteFile(handle_, data.data(), static_cast<DWORD>(count), nullptr,
                         record.Overlapped()) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            throw EComPort(CE_WriteFailed, static_cast<int32_t>(::GetLastError()));
        }
        return static_cast<int>(record.Finish(handle_, CE_WriteFailed, false));
    }

    int Read(uint8_t* buffer, int count) override {
        OperationRecord record(CE_ReadFailed);
        if (!::ReadFile(handle_, buffer, static_cast<DWORD>(count), nullptr, record.Overlapped()) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            throw EComPort(CE_ReadFailed, static_cast<int32_t>(::GetLastError()));
        }
        DWORD received = record.Finish(handle_, CE_ReadFailed, true);
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status)) {
            throw EComPort(CE_ClearComFailed, static_cast<int32_t>(::GetLastError()));
        }
        return static_cast<int>(received);
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<ComPortBackend> MakeSystemComBackend() {
    return std::make_unique<Win32ComBackend>();
}
