// The command-line tool's work on the line: one port opened with the line options, one device
// record, and the device operations of the main window with the same checks — the read with
// its model check, the write of a changed block with its confirmation by the operator and its
// read-back, the device list. Each operation returns an outcome with the program's exit
// status; what it shows of a device is the caller's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/Obrnastr.h"
#include "device/line_search.h"
#include "device/service_journal.h"
#include "link/Comportclass.h"
#include "link/Cport.h"

// The program's exit status: one per kind of failure, fixed for scripts.
enum ExitStatus : int {
    kExitOk = 0,
    kExitDifferences = 1,        // compare: the device and the file differ
    kExitUsage = 2,              // a wrong command line, or no port named
    kExitPort = 3,               // the port cannot be opened, or failed during an exchange
    kExitNoReply = 4,            // the device does not answer
    kExitDamagedReply = 5,       // a reply came cut short, with a bad checksum or not ours
    kExitDeviceException = 6,    // the device answered with an exception (busy among them)
    kExitRefusedFile = 7,        // a configuration file that cannot be read or is not accepted
    kExitRefusedWrite = 8,       // a write refused by its checks or not confirmed
    kExitMismatch = 9,           // the device's block read back differs from the one written
    kExitNotServed = 10,         // the device is not a ВЭК-01МЕ or ВЭК-02МЕ
    kExitJournalUntrusted = 11,  // journal: the service journal fails its check
    kExitInterrupted = 130,      // stopped by Ctrl+C (SIGINT) or SIGTERM between exchanges
};

// The exit status of a failed transaction's result code.
ExitStatus ExitStatusOfResult(int32_t result);

struct Outcome {
    ExitStatus status = kExitOk;
    std::string message;  // for the operator, when it failed
    bool Ok() const { return status == kExitOk; }
};

struct LineOptions {
    std::string port;
    int32_t baud = 9600;
    char parity = 'N';  // N, E or O
    int32_t stopBits = 2;
    int32_t headerAttempts = 5;
    int32_t bodyAttempts = 10;
    int32_t sendDelayMs = 25;
    int32_t byteTimeoutMs = 100;    // longest pause between the bytes of a reply
    int32_t replyTimeoutMs = 1000;  // a reply's time-out beyond 100 ms a byte
};

// The line speeds the link offers, in bit/s.
std::vector<int32_t> LineSpeeds();

// Ctrl+C and SIGTERM: taken from the first call on, they only set a flag that the operations
// look at between exchanges, so that an exchange, and a write above all, is never cut.
void CatchInterrupts();
bool Interrupted();

// Asks the operator to let a write go ahead: the text shown, the answer (true to write).
using WriteConfirmation = std::function<bool(const std::string& changes)>;

class CliSession {
  public:
    explicit CliSession(const LineOptions& options,
                        std::unique_ptr<ComPortBackend> backend = MakeSystemComBackend());

    Outcome Open();

    // Reads device `address` (1..32) whole into the record: identification, block and
    // measurements, the block from that number and of a ВЭК-01МЕ or ВЭК-02МЕ.
    Outcome Read(int32_t address);

    // Writes the record's block as changed from the block read, after `confirm` has agreed to
    // the changes listed; then reads the device again and checks that it holds that block.
    // The journal names the change `action`.
    Outcome WriteChanges(const std::string& action, const WriteConfirmation& confirm);

    // Searches addresses 1..highest as the device list does (firstByteWaitMs 0: the specified
    // search, else the fast one with that wait). Stops at an interrupt or a failed port; what
    // was found until then is in `found`.
    Outcome Scan(int32_t highest, int32_t firstByteWaitMs, std::vector<FoundDevice>& found);

    TProgVEKClass& Record() { return record_; }
    // Why the last change could not be entered in the service journal; empty when it was.
    const std::string& JournalError() const { return journal_.LastError(); }
    const TComPortClass& Link() const { return link_; }
    std::string DeviceText() const;  // "устройство 1 (ВЭК-02МЕ) /dev/ttyUSB0"

  private:
    Outcome Failed(int32_t number, int32_t result) const;

    TComPort port_;
    TComPortClass link_;
    TProgVEKClass record_;
    ServiceJournal journal_{ServiceJournal::DefaultFolder(), "cli"};
};
