#include "cli/cli_session.h"

#include <csignal>

#include "cli/cli_output.h"
#include "device/conversions.h"
#include "device/device_exchanges.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
    interrupted = 1;
}

}  // namespace

ExitStatus ExitStatusOfResult(int32_t result) {
    switch (result) {
        case lrOk:
            return kExitOk;
        case lrNoReply:
            return kExitNoReply;
        case lrReceiveError:
        case lrShortReply:
        case lrChecksumError:
            return kExitDamagedReply;
        case lrPortOpenFailed:
        case lrPortNotConfigured:
        case lrPortSetupAtPowerOff:
        case lrPortSetupError:
        case lrPortNotConnected:
        case lrPortFailed:
            return kExitPort;
        default:
            return kExitDeviceException;
    }
}

std::vector<int32_t> LineSpeeds() {
    std::vector<int32_t> speeds;
    for (int rate = br110; rate <= br115200; ++rate)
        speeds.push_back(static_cast<int32_t>(BaudRateValue(static_cast<TBaudRate>(rate), 0)));
    return speeds;
}

void CatchInterrupts() {
#ifdef _WIN32
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#else
    // Without SA_RESTART: a question waiting for the operator's answer ends at Ctrl+C.
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that went away (watch | head) ends the output, not the process mid-exchange.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool Interrupted() {
    return interrupted != 0;
}

CliSession::CliSession(const LineOptions& options, std::unique_ptr<ComPortBackend> backend)
    : port_(std::move(backend)), link_(port_) {
    ApplyComPort1Design(port_);
    TComTimeouts timeouts = port_.Timeouts();
    timeouts.ReadInterval = options.byteTimeoutMs;
    timeouts.ReadTotalConstant = options.replyTimeoutMs;
    port_.SetTimeouts(timeouts);
    link_.PortName = options.port;
    link_.BaudText = std::to_string(options.baud);
    link_.ParityLetter = std::string(1, options.parity);
    link_.StopBitsText = std::to_string(options.stopBits);
    link_.SetStage1Attempts(options.headerAttempts);
    link_.SetStage2Attempts(options.bodyAttempts);
    link_.SetSendDelay(options.sendDelayMs);
}

Outcome CliSession::Open() {
    // A refused open has said why (the link's message); a refused setting has not.
    if (link_.OpenPort() != 0) {
        return {kExitPort, IsAcceptablePortName(link_.PortName)
                               ? std::string()
                               : "Порт " + link_.PortName + " не может быть открыт"};
    }
    return {};
}

Outcome CliSession::Failed(int32_t number, int32_t result) const {
    const std::optional<OperatorMessage> message =
        ExchangeErrorMessage(number, result, link_.PortName);
    return {ExitStatusOfResult(result), message ? message->text : std::string()};
}

std::string CliSession::DeviceText() const {
    return "устройство " + std::to_string(record_.DeviceNumber + 1) + " (" +
           ModelName(record_.TypeCode) + ") " + link_.PortName;
}

Outcome CliSession::Read(int32_t address) {
    record_ = TProgVEKClass();
    record_.DeviceNumber = address - 1;
    record_.NewDeviceNumber = address - 1;
    const DeviceRead read = ReadDevice(link_, record_);
    if (read.foreignNumber >= 0) {
        return {kExitDamagedReply,
                ForeignBlockText(address - 1, link_.PortName, read.foreignNumber)};
    }
    if (!read.Completed()) return Failed(address - 1, read.result);
    if (const auto text = NotServedText(address - 1, record_.TypeCode)) {
        return {kExitNotServed, *text};
    }
    record_.DataRead = 1;
    record_.Changed = 0;
    record_.RangeStart1 = RangeStartKpa(record_.GetRangeStartBit(1));
    record_.RangeStart2 = RangeStartKpa(record_.GetRangeStartBit(2));
    record_.RangeEnd1 = record_.RangeEnd2 = kRangeEndKpa;
    return {};
}

Outcome CliSession::WriteChanges(const std::string& action, const WriteConfirmation& confirm) {
    const std::vector<uint8_t> intended = BlockOf(record_);
    const std::vector<FieldDifference> changes = CompareBlocks(record_.DeviceBlock, intended);
    if (changes.empty()) return {};
    record_.NewDeviceNumber = record_.GetDeviceNumberByte();
    record_.Changed = 1;
    // A write the operator turned down is journalled too, as refused before sending.
    auto refused = [&](Outcome outcome) {
        JournalledChange(&journal_, link_, record_, action, changes)
            .Outcome(kVerdictRefused, lrOk, outcome.message);
        return outcome;
    };
    if (!confirm(DeviceText() + ": будут записаны изменения:\n" + ChangesTable(changes))) {
        return refused({kExitRefusedWrite, "Запись не подтверждена, в прибор ничего не передано"});
    }
    if (Interrupted()) return refused({kExitInterrupted, "Прервано, в прибор ничего не передано"});

    WriteOptions options;
    options.journal = &journal_;
    options.action = action;
    const DeviceWrite write = WriteBlock(link_, record_, options);
    switch (write.reached) {
        case DeviceWrite::Done:
            break;
        case DeviceWrite::Record:
            return {kExitRefusedWrite, kNoDeviceDataText};
        case DeviceWrite::Type:
        case DeviceWrite::Version:
            return {kExitRefusedWrite, *WriteRefusalText(write)};
        case DeviceWrite::NewNumber:
            if (const auto text = WriteRefusalText(write)) return {kExitRefusedWrite, *text};
            return Failed(record_.NewDeviceNumber, write.result);
        case DeviceWrite::Identification:
        case DeviceWrite::Block:
        case DeviceWrite::Confirmation:
            return Failed(record_.DeviceNumber, write.result);
    }

    // The device confirmed; what it holds now is what counts.
    if (Outcome read = Read(record_.DeviceNumber + 1); !read.Ok()) {
        read.message = "Запись подтверждена, но прибор не прочитан:\n" + read.message;
        return read;
    }
    if (BlockOf(record_) != intended) {
        return {kExitMismatch, "Прочитанная из прибора база отличается от записанной:\n" +
                                   ChangesTable(CompareBlocks(intended, BlockOf(record_)))};
    }
    return {};
}

Outcome CliSession::Scan(int32_t highest, int32_t firstByteWaitMs,
                         std::vector<FoundDevice>& found) {
    LineSearch search(link_, highest, firstByteWaitMs);
    Outcome outcome;
    while (!search.Done()) {
        if (Interrupted()) {
            outcome = {kExitInterrupted, "Прервано"};
            break;
        }
        search.Step();
    }
    found = search.Found();
    if (search.PortResult() != lrOk) {
        return Failed(search.PortResultAddress() - 1, search.PortResult());
    }
    return outcome;
}
