// The device's exchanges, in one place for every front end: identification, the whole device
// read, the write of the configuration block with its checks, the calibration-mode command.
// Each works on the link and the device record and returns what happened as data; what to
// tell the operator and what to show is the caller's. Nothing else sends a device a request.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "device/Obrnastr.h"
#include "link/Comportclass.h"

struct Identification {
    int32_t result = lrOk;  // of the transaction
    int32_t version = 0;    // when result is lrOk
    int32_t type = 0;
    // After a failure whose last attempt read the start of an identification reply, the
    // address that reply names (1..255; the one asked or, late, another); 0 else.
    int32_t heardAddress = 0;
};

// The address that bytes name when they begin an identification reply; 0 when they do not.
int32_t IdentificationReplyAddress(std::span<const uint8_t> bytes);

// Asks device number (0..31) for its identification: also one address of a scan.
Identification Identify(TComPortClass& link, int32_t number);

// The device read of the record's device: identification (17), configuration block (68) and
// measurements (71). The record's block and measurements are cleared first and DataRead is 0
// afterwards: a caller that accepts the read sets it (the model check is the caller's,
// IsServedModel). From the block on, the requests go to the number the block holds, which
// must be the number asked.
struct DeviceRead {
    enum Step { Identification, Block, Measurements, Done };
    Step reached = Identification;  // the step that failed, or Done
    int32_t result = lrOk;          // of the failed step's transaction
    // The identification brought a type or version other than the record's (set before the
    // block's step runs).
    bool identityChanged = false;
    // The block failed because it names this number (0-based) and not the one asked; -1 else.
    int32_t foreignNumber = -1;

    bool Completed() const { return reached == Done; }
    bool BlockTaken() const { return reached > Block; }
};
DeviceRead ReadDevice(TComPortClass& link, TProgVEKClass& record);

// The operator's texts of a read that cannot be accepted: a block that names another number
// (0-based numbers), and a device of no served model (none for a served one).
std::string ForeignBlockText(int32_t number, const std::string& port, int32_t foreignNumber);
std::optional<std::string> NotServedText(int32_t number, int32_t type);

// The write of the record's block to its device, as far as the device's confirmation:
// identification and the checks of type and version against the read, for a new number the
// check that no device answers there (it is put back to the device's own number when one
// does), the block (69), the device's new number taken over, the store wait and the
// confirmation (14), after which Changed is 0. The caller reads the device again.
struct DeviceWrite {
    enum Step { Record, Identification, Type, Version, NewNumber, Block, Confirmation, Done };
    Step reached = Record;  // the step that stopped the write, or Done
    // Of the failed transaction; lrOk where a check refused (Record, Type, Version, and
    // NewNumber when a device answers at the new number).
    int32_t result = lrOk;
    // The new number (0-based) refused because something answers there; -1 else.
    int32_t refusedNumber = -1;

    bool Confirmed() const { return reached == Done; }
};
class ServiceJournal;

// How a write is run: the journal it is entered in (none: not journalled) and what the change
// is in the operator's terms; told when the write has passed its checks and is about to send
// the block (checked), and when the device has taken the block and the record its new number
// (taken).
struct WriteOptions {
    ServiceJournal* journal = nullptr;
    std::string action = "запись";
    std::function<void()> checked;
    std::function<void()> taken;
};
// The write's intent (the fields that change, from the device's block as read to the record's)
// is journalled before anything is sent, its outcome when it has ended.
DeviceWrite WriteBlock(TComPortClass& link, TProgVEKClass& record,
                       const WriteOptions& options = {});

// The operator's text of a write refused by its checks (type, version, an occupied new
// number); none for the other steps.
std::optional<std::string> WriteRefusalText(const DeviceWrite& write);

// Switches the calibration mode of the record's device on or off, journalled as a change:
// the transaction's result.
int32_t SetCalibrationMode(TComPortClass& link, const TProgVEKClass& record, bool on,
                           ServiceJournal* journal = nullptr);
