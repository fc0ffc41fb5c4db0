#include "device/device_exchanges.h"

#include <array>

#include "device/config_file.h"
#include "device/service_journal.h"

int32_t IdentificationReplyAddress(std::span<const uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == kFnIdentify ? bytes[0] : 0;
}

Identification Identify(TComPortClass& link, int32_t number) {
    ReplyBuffer reply{};
    Identification id;
    id.result = link.Transact(number, kFnIdentify, {}, reply);
    if (id.result == lrOk) {
        id.version = reply[kReplyVersion];
        id.type = reply[kReplyType];
    } else {
        id.heardAddress = IdentificationReplyAddress(std::span(reply).first(2));
    }
    return id;
}

namespace {

// A configuration reply the record can take whole: at least up to the device number and no
// longer than the record's block.
bool WholeBlockReply(const ReplyBuffer& reply) {
    const uint8_t length = reply[kReplyByteCount];
    return length >= kBlockMinimum && length <= kBlockCapacity;
}

}  // namespace

DeviceRead ReadDevice(TComPortClass& link, TProgVEKClass& record) {
    DeviceRead read;
    // The block is cleared here; it may be written back only once a read has been accepted.
    ReplyBuffer reply{};
    record.DataRead = 0;
    record.LoadBlock(reply);
    record.LoadMeasurements(reply);
    record.DeviceBlock.clear();

    const Identification id = Identify(link, record.DeviceNumber);
    read.result = id.result;
    if (read.result != lrOk) return read;
    read.identityChanged = id.type != record.TypeCode || id.version != record.Version;
    if (read.identityChanged) record.LayoutReady = 0;
    record.TypeCode = id.type;
    record.Version = id.version;

    read.reached = DeviceRead::Block;
    read.result = link.Transact(record.DeviceNumber, kFnReadBlock, {}, reply);
    if (read.result == lrOk && !WholeBlockReply(reply)) read.result = lrReceiveError;
    if (read.result != lrOk) return read;
    // A block that names another number is not this device's to show or to write back: the
    // measurements would come from that number, and the write would send this block there.
    if (const int32_t named = reply[kReplyData + 17]; named != record.DeviceNumber) {
        read.foreignNumber = named;
        return read;
    }
    record.SetBlockLength(reply[kReplyByteCount]);
    record.LoadBlock(reply);
    record.UpdateNonPrivileged();
    record.DeviceNumber = record.GetDeviceNumberByte();
    record.NewDeviceNumber = record.DeviceNumber;
    record.BlockOrigin = record.DeviceNumber;
    record.DeviceBlock = BlockOf(record);

    read.reached = DeviceRead::Measurements;
    reply.fill(0);
    read.result = link.Transact(record.DeviceNumber, kFnMeasurements, kMeasurementRequest, reply);
    if (read.result != lrOk) return read;
    record.LoadMeasurements(reply);
    read.reached = DeviceRead::Done;
    return read;
}

std::string ForeignBlockText(int32_t number, const std::string& port, int32_t foreignNumber) {
    return "устройство " + std::to_string(number + 1) + " " + port +
           " передало базу данных устройства " + std::to_string(foreignNumber + 1) +
           "\nДанные не считаны";
}

std::optional<std::string> NotServedText(int32_t number, int32_t type) {
    const std::string device = "устройство " + std::to_string(number + 1);
    if (type == kTypeUndetermined) return device + " - не определен тип прибора\nДанные не считаны";
    if (!IsServedModel(type)) return device + " -  не ВЭК-01МЕ и не ВЭК-02МЕ\nДанные не считаны";
    return std::nullopt;
}

namespace {

// A device that already answers at the new number would answer every request together with
// the renumbered one: only silence there (asked with a search's attempts) lets it go out.
// Anything else refuses it and puts the device's own number back into the block, so that the
// next write carries the other changes; a failed port refuses it as it is.
int32_t ProbeNewNumber(TComPortClass& link, TProgVEKClass& record) {
    int32_t result;
    {
        ScopedStage1Attempts search(link, kSearchStage1Attempts);
        result = Identify(link, record.NewDeviceNumber).result;
    }
    if (result == lrNoReply) return lrOk;
    if (result == lrPortFailed || result == lrPortNotConnected) return result;
    record.NewDeviceNumber = record.DeviceNumber;
    record.SetDeviceNumberByte(record.DeviceNumber);
    return lrOk;
}

// What the operator is told of a failed exchange with the record's device, for the journal.
std::string FailureText(const TComPortClass& link, const TProgVEKClass& record, int32_t result) {
    const auto message = ExchangeErrorMessage(record.DeviceNumber, result, link.PortName);
    return message ? message->text : std::string();
}

// The write's exchanges, from the identification to the confirmation.
DeviceWrite SendBlock(TComPortClass& link, TProgVEKClass& record, const WriteOptions& options) {
    DeviceWrite write;
    write.reached = DeviceWrite::Identification;
    const Identification id = Identify(link, record.DeviceNumber);
    write.result = id.result;
    if (write.result != lrOk) return write;
    write.reached = DeviceWrite::Type;
    if (id.type != record.TypeCode) return write;
    write.reached = DeviceWrite::Version;
    if (id.version != record.Version) return write;
    if (record.NewDeviceNumber != record.DeviceNumber) {
        write.reached = DeviceWrite::NewNumber;
        const int32_t wanted = record.NewDeviceNumber;
        write.result = ProbeNewNumber(link, record);
        if (write.result != lrOk) return write;
        if (record.NewDeviceNumber != wanted) {
            write.refusedNumber = wanted;
            return write;
        }
    }

    std::array<uint8_t, kBlockCapacity> payload{};
    record.CopyBlockTo(payload);
    if (options.checked) options.checked();
    write.reached = DeviceWrite::Block;
    ReplyBuffer reply{};
    write.result = link.Transact(record.DeviceNumber, kFnWriteBlock,
                                 std::span(payload.data(), record.GetBlockLength()), reply);
    if (write.result != lrOk) return write;

    // The device has taken the block, and with it the new number.
    record.DeviceNumber = record.NewDeviceNumber;
    record.BlockOrigin = record.DeviceNumber;
    if (options.taken) options.taken();
    link.WaitMs(kStoreWaitMs);

    write.reached = DeviceWrite::Confirmation;
    reply.fill(0);
    write.result = link.Transact(record.DeviceNumber, kFnConfirm, {}, reply);
    if (write.result != lrOk) return write;
    record.Changed = 0;
    record.DeviceBlock = BlockOf(record);
    write.reached = DeviceWrite::Done;
    return write;
}

}  // namespace

DeviceWrite WriteBlock(TComPortClass& link, TProgVEKClass& record, const WriteOptions& options) {
    // Only a whole block read from a served device goes back: not one cleared by a failed
    // read, not another model's after a model warning, nor one that came from another number.
    if (!record.HoldsWritableBlock()) return {};
    JournalledChange change(options.journal, link, record, options.action,
                            CompareBlocks(record.DeviceBlock, BlockOf(record)));
    const DeviceWrite write = SendBlock(link, record, options);
    if (write.Confirmed()) {
        change.Outcome(kVerdictConfirmed);
    } else if (const auto refusal = WriteRefusalText(write)) {
        change.Outcome(kVerdictRefused, lrOk, *refusal);
    } else {
        change.Outcome(
            write.reached == DeviceWrite::Confirmation ? kVerdictUnconfirmed : kVerdictFailed,
            write.result, FailureText(link, record, write.result));
    }
    return write;
}

std::optional<std::string> WriteRefusalText(const DeviceWrite& write) {
    switch (write.reached) {
        case DeviceWrite::Type:
            return "Не совпадает тип прибора \nпри попытке сохранить базу.\nСохранение отменено";
        case DeviceWrite::Version:
            return "Не совпадает версия прибора \nпри попытке сохранить базу.\nСохранение "
                   "отменено";
        case DeviceWrite::NewNumber:
            if (write.refusedNumber < 0) return std::nullopt;
            return "Номер " + std::to_string(write.refusedNumber + 1) +
                   " уже занят другим устройством.\nСохранение отменено";
        default:
            return std::nullopt;
    }
}

int32_t SetCalibrationMode(TComPortClass& link, const TProgVEKClass& record, bool on,
                           ServiceJournal* journal) {
    JournalledChange change(journal, link, record,
                            on ? "режим калибровки: включение" : "режим калибровки: выключение",
                            {});
    ReplyBuffer reply{};
    const int32_t result = link.Transact(record.DeviceNumber, kFnCalibrationMode,
                                         on ? kCalibrationModeOn : kCalibrationModeOff, reply);
    if (result == lrOk) {
        change.Outcome(kVerdictConfirmed);
    } else {
        change.Outcome(kVerdictFailed, result, FailureText(link, record, result));
    }
    return result;
}
