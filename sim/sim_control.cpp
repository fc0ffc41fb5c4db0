#include "sim_control.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "line_server.h"

namespace vsim {

namespace {

bool ParseInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || value < low || value > high) return false;
    out = value;
    return true;
}

bool ParseKpa(const std::string& text, double& out) {
    double value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || !std::isfinite(value) || std::fabs(value) > 1e6)
        return false;
    out = value;
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char hex[4];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X ", b);
        text += hex;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::string Error(const std::string& text) {
    return "error: " + text;
}

constexpr const char* kCommandsHelp =
    "Commands on standard input (ADDR is the bus address a device answers at, 1..32):\n"
    "  pressure ADDR CH KPA      input pressure of channel CH (1 or 2) in kPa\n"
    "  pressure ADDR CH break    open the channel's input line (line break)\n"
    "  mode ADDR priv|user       privileged or non-privileged mode (block offset 4, bit 7)\n"
    "  fault ADDR KIND [ARG...]  add a fault to the device, see the kinds below\n"
    "  fault ADDR clear          remove all faults of the device\n"
    "  show ADDR                 the device's block, measurements, state and faults\n"
    "  list                      every device on the line\n"
    "  add ADDR:TYPE[:VERSION]   put another device on the line\n"
    "  remove ADDR               take a device off the line\n"
    "  type ADDR CODE            type code reported by identification (0..255)\n"
    "  version ADDR VERSION      version byte reported by identification (0..255)\n"
    "  blocklen ADDR N           length of the configuration block (18..30)\n"
    "  byte ADDR OFFSET VALUE    set one byte of the configuration block\n"
    "  noise ADDR CODES          ADC noise amplitude in codes (0 for none)\n"
    "  measure ADDR R S A [R S A]  send fixed measurements: result, status byte and ADC code\n"
    "                            of channel 1 (and 2) instead of the model's\n"
    "  measure ADDR model        measurements from the model again\n"
    "  busy MS                   busy time after a block write, every device\n"
    "  turnaround MS             delay between a request and its reply\n"
    "  help                      this list\n"
    "  quit                      stop serving and end\n"
    "\n"
    "Fault kinds (several may be set at once):\n"
    "  silent           no reply and no action at all\n"
    "  drop N           every Nth reply is lost\n"
    "  short N          only the first N bytes of each reply are sent (3: header only)\n"
    "  crc              the reply's checksum is wrong\n"
    "  foreign [CODE]   the reply carries a foreign function code (default: derived)\n"
    "  exception CODE   every request is answered with exception CODE (0..255)\n"
    "  split [MS [AT]]  the reply pauses MS ms (default 150) after AT bytes (default half)\n"
    "  newtype CODE     the next block write changes the reported type code\n"
    "  newversion V     the next block write changes the reported version\n"
    "  longblock [N]    configuration replies carry N bytes (31..255, default 32)\n";

constexpr const char* kOptionsHelp =
    "Usage: vek-sim [options]\n"
    "\n"
    "Simulates ВЭК-01МЕ / ВЭК-02МЕ pressure transducers (and other models) on a virtual\n"
    "RS-485 line. The line is served on a pseudo-terminal in raw mode and published as a\n"
    "virtual port: a link in vek-ports under $XDG_RUNTIME_DIR (or /tmp), removed again when\n"
    "the program ends (the quit command, SIGINT or SIGTERM; the end of standard input does\n"
    "not end it). Once it serves, the program prints one line \"ready <port path>\" on\n"
    "standard output; command replies follow there, the --verbose log goes to stderr.\n"
    "\n"
    "Options:\n"
    "  --device N:TYPE[:VERSION]  a device at bus address N (1..32) with type code TYPE\n"
    "                             (105 ВЭК-01МЕ, 106 ВЭК-02МЕ, 100..103 other models,\n"
    "                             104 unsupported, 255 undetermined; any 0..255) and version\n"
    "                             byte VERSION (default 1); may be repeated. Every device\n"
    "                             starts calibrated, in privileged mode, with a 22-byte block.\n"
    "                             Without --device the demonstration line is served:\n"
    "                             1:106, 2:105 and 5:100.\n"
    "  --baud RATE                line speed, 110..921600 bits/s (default 9600); replies\n"
    "                             are paced at 11 bits a character\n"
    "  --name NAME                name of the link (default ttyVEK0, or the next free one)\n"
    "  --busy MS                  busy time after a block write, 0..60000 (default 1000)\n"
    "  --turnaround MS            delay before each reply, 0..10000 (default 5)\n"
    "  -e, --exec COMMAND         run a command as if typed on standard input, before\n"
    "                             serving; may be repeated (e.g. -e \"fault 2 crc\")\n"
    "  -v, --verbose              log every request and reply (timestamp, hex) on stderr\n"
    "  -h, --help                 this text\n"
    "  --version                  the program's version\n"
    "\n";

}  // namespace

const char* TypeName(int type) {
    switch (type) {
        case kTypeKsvl:
            return "КСВЛ";
        case kTypeRunTs:
            return "РУН-ТС";
        case kTypeRunTp:
            return "РУН-ТП";
        case kTypeLsta:
            return "ЛСТА";
        case kTypeVek01:
            return "ВЭК-01МЕ";
        case kTypeVek02:
            return "ВЭК-02МЕ";
        default:
            return "";
    }
}

std::string UsageText() {
    return std::string(kOptionsHelp) + kCommandsHelp;
}

std::optional<DeviceSpec> ParseDeviceSpec(const std::string& text, std::string& error) {
    const auto parts = Split(text, ':');
    DeviceSpec entry;
    if (parts.size() < 2 || parts.size() > 3 || !ParseInt(parts[0], 1, 32, entry.address) ||
        !ParseInt(parts[1], 0, 255, entry.type) ||
        (parts.size() == 3 && !ParseInt(parts[2], 0, 255, entry.version))) {
        error =
            "a device is given as N:TYPE[:VERSION] with N 1..32, TYPE and VERSION 0..255, "
            "not \"" +
            text + "\"";
        return std::nullopt;
    }
    return entry;
}

std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    SimOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        std::string name = arg;
        const bool takesValue = arg == "--device" || arg == "--baud" || arg == "--name" ||
                                arg == "--busy" || arg == "--turnaround" || arg == "--exec" ||
                                arg == "-e";
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else if (takesValue) {
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        if (name == "--device") {
            auto entry = ParseDeviceSpec(value, error);
            if (!entry) return std::nullopt;
            for (const auto& other : options.devices) {
                if (other.address == entry->address) {
                    error = "two devices at bus address " + std::to_string(entry->address);
                    return std::nullopt;
                }
            }
            options.devices.push_back(*entry);
        } else if (name == "--baud") {
            if (!ParseInt(value, 110, 921600, options.baud)) {
                error = "--baud takes a speed of 110..921600 bits/s, not \"" + value + "\"";
                return std::nullopt;
            }
        } else if (name == "--name") {
            if (!ValidPortName(value)) {
                error =
                    "--name takes 1..64 letters, digits, '-', '_' or '.', not \"" + value + "\"";
                return std::nullopt;
            }
            options.name = value;
        } else if (name == "--busy") {
            if (!ParseInt(value, 0, 60000, options.busyMs)) {
                error = "--busy takes 0..60000 ms, not \"" + value + "\"";
                return std::nullopt;
            }
        } else if (name == "--turnaround") {
            if (!ParseInt(value, 0, 10000, options.turnaroundMs)) {
                error = "--turnaround takes 0..10000 ms, not \"" + value + "\"";
                return std::nullopt;
            }
        } else if (name == "--exec" || name == "-e") {
            options.commands.push_back(value);
        } else if (name == "--verbose" || name == "-v") {
            options.verbose = true;
        } else if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else {
            error = "unknown option \"" + arg + "\" (see --help)";
            return std::nullopt;
        }
    }
    return options;
}

void BuildDemoLine(VirtualLine& line, SimTime now) {
    if (VirtualDevice* d = line.Add(1, kTypeVek02, 1, now)) {
        d->SetPressure(1, 62.5);
        d->SetPressure(2, 41.0);
    }
    if (VirtualDevice* d = line.Add(2, kTypeVek01, 1, now)) {
        // One channel, 0..100 kPa, both setpoints on it: high alarm at 75 %, low at 15 %.
        d->SetBit(blk::kRangeStart, 0x01, true);
        d->SetWord(blk::kScaleStart1, VirtualDevice::AdcForPressure(0) + 6);
        d->SetWord(blk::kScaleEnd1, VirtualDevice::AdcForPressure(100) - 5);
        d->SetWord(blk::kSetpoint1, 12287);
        d->SetWord(blk::kSetpoint2, 2457);
        d->SetBit(blk::kFlags, blk::kAlarmHigh2, false);
        d->SetByte(blk::kTrim1, 0x12);
        d->SetPressure(1, 48.0);
    }
    line.Add(5, kTypeKsvl, 2, now);
}

std::string BuildLine(const SimOptions& options, VirtualLine& line, SimTime now) {
    line.SetBusyTime(std::chrono::milliseconds(options.busyMs));
    line.SetTurnaroundMs(options.turnaroundMs);
    if (options.devices.empty()) {
        BuildDemoLine(line, now);
    } else {
        for (const auto& entry : options.devices) {
            if (!line.Add(entry.address, static_cast<uint8_t>(entry.type),
                          static_cast<uint8_t>(entry.version), now))
                return "cannot put a device at bus address " + std::to_string(entry.address);
        }
    }
    for (const auto& command : options.commands) {
        const auto result = RunCommand(command, line, now);
        if (result.text.rfind("error: ", 0) == 0)
            return "-e \"" + command + "\": " + result.text.substr(7);
    }
    return {};
}

namespace {

std::string FaultsText(const DeviceFaults& f) {
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (f.silent) add("silent");
    if (f.dropEvery > 0) add("drop " + std::to_string(f.dropEvery));
    if (f.shortLength >= 0) add("short " + std::to_string(f.shortLength));
    if (f.badCrc) add("crc");
    if (f.foreignFunction >= 0)
        add(f.foreignFunction > 255 ? "foreign" : "foreign " + std::to_string(f.foreignFunction));
    if (f.exceptionCode >= 0) add("exception " + std::to_string(f.exceptionCode));
    if (f.splitGapMs > 0)
        add("split " + std::to_string(f.splitGapMs) + " " + std::to_string(f.splitAt));
    if (f.typeAfterWrite >= 0) add("newtype " + std::to_string(f.typeAfterWrite));
    if (f.versionAfterWrite >= 0) add("newversion " + std::to_string(f.versionAfterWrite));
    if (f.longBlock > 0) add("longblock " + std::to_string(f.longBlock));
    return text.empty() ? "none" : text;
}

std::string DeviceLine(VirtualDevice& d, SimTime now) {
    std::string name = TypeName(d.Type());
    return "device " + std::to_string(d.BusAddress(now)) + ": type " + std::to_string(d.Type()) +
           (name.empty() ? "" : " (" + name + ")") + ", version " + std::to_string(d.Version()) +
           ", " + (d.Privileged() ? "privileged" : "non-privileged") +
           (d.Busy(now) ? ", busy" : "") + (d.CalibrationMode() ? ", calibration mode" : "") +
           ", faults: " + FaultsText(d.faults);
}

std::string ShowDevice(VirtualDevice& d, SimTime now) {
    std::ostringstream out;
    out << DeviceLine(d, now) << "\n";
    out << "  block (" << d.Block().size() << " bytes): " << Hex(d.Block()) << "\n";
    const uint8_t flags = d.Block()[blk::kFlags];
    const Measurement m = d.Measure();
    for (int c = 1; c <= d.Channels(); ++c) {
        const bool fromZero = d.Block()[blk::kRangeStart] & (c == 1 ? 1 : 2);
        const bool root = d.Block()[blk::kCharacteristic] & (c == 1 ? 1 : 2);
        const auto pressure = d.Pressure(c);
        char p[32];
        if (pressure)
            std::snprintf(p, sizeof p, "%.2f kPa", *pressure);
        else
            std::snprintf(p, sizeof p, "line break");
        out << "  channel " << c << ": scale "
            << d.Word(c == 1 ? blk::kScaleStart1 : blk::kScaleStart2) << ".."
            << d.Word(c == 1 ? blk::kScaleEnd1 : blk::kScaleEnd2) << ", "
            << (root ? "square root" : "linear") << ", range " << (fromZero ? 0 : 20)
            << "..100 kPa, input " << p << "; result " << m.result[c - 1] << ", status 0x";
        char st[8];
        std::snprintf(st, sizeof st, "%02X", m.status[c - 1]);
        out << st << ", ADC " << m.adc[c - 1] << "\n";
    }
    if (d.Channels() == 1) {
        char st[8];
        std::snprintf(st, sizeof st, "%02X", m.status[1]);
        out << "  status byte 2: 0x" << st << "\n";
    }
    out << "  setpoint 1: " << d.Word(blk::kSetpoint1) << " ("
        << ((flags & blk::kAlarmHigh1) ? "H" : "L") << "), setpoint 2: " << d.Word(blk::kSetpoint2)
        << " (" << ((flags & blk::kAlarmHigh2) ? "H" : "L")
        << "), blocks stored: " << d.BlocksStored()
        << (d.AwaitingConfirmation() ? ", awaiting confirmation" : "");
    return out.str();
}

CommandResult SetFault(VirtualDevice& d, const std::vector<std::string>& w) {
    DeviceFaults& f = d.faults;
    const std::string& kind = w[2];
    const size_t extra = w.size() - 3;
    int a = 0, b = 0;
    auto arg = [&](size_t i, int low, int high, int& out) {
        return extra > i && ParseInt(w[3 + i], low, high, out);
    };
    if (kind == "clear" && extra == 0) {
        f = DeviceFaults{};
    } else if (kind == "silent" && extra == 0) {
        f.silent = true;
    } else if (kind == "drop" && extra == 1 && arg(0, 1, 1000000, a)) {
        f.dropEvery = a;
    } else if (kind == "short" && extra == 1 && arg(0, 0, 1000, a)) {
        f.shortLength = a;
    } else if (kind == "crc" && extra == 0) {
        f.badCrc = true;
    } else if (kind == "foreign" && extra == 0) {
        f.foreignFunction = 256;
    } else if (kind == "foreign" && extra == 1 && arg(0, 0, 255, a)) {
        f.foreignFunction = a;
    } else if (kind == "exception" && extra == 1 && arg(0, 0, 255, a)) {
        f.exceptionCode = a;
    } else if (kind == "split" && extra <= 2 && (extra < 1 || arg(0, 1, 10000, a)) &&
               (extra < 2 || arg(1, 1, 1000, b))) {
        f.splitGapMs = extra >= 1 ? a : 150;
        f.splitAt = extra >= 2 ? b : 0;
    } else if (kind == "newtype" && extra == 1 && arg(0, 0, 255, a)) {
        f.typeAfterWrite = a;
    } else if (kind == "newversion" && extra == 1 && arg(0, 0, 255, a)) {
        f.versionAfterWrite = a;
    } else if (kind == "longblock" && extra <= 1 &&
               (extra == 0 || arg(0, static_cast<int>(kMaxBlockLength) + 1,
                                  static_cast<int>(kMaxLongBlockLength), a))) {
        f.longBlock = extra == 1 ? a : 32;
    } else {
        return {
            Error("fault kinds: silent, drop N, short N, crc, foreign [CODE], exception "
                  "CODE, split [MS [AT]], newtype CODE, newversion V, longblock [N], clear")};
    }
    return {"faults: " + FaultsText(f)};
}

}  // namespace

CommandResult RunCommand(const std::string& command, VirtualLine& line, SimTime now) {
    std::vector<std::string> w;
    {
        std::istringstream in(command);
        std::string word;
        while (in >> word)
            w.push_back(word);
    }
    if (w.empty()) return {};
    const std::string& verb = w[0];
    if (verb == "help") return {kCommandsHelp};
    if (verb == "quit" || verb == "exit") return {"bye", true};
    if (verb == "list") {
        std::string text;
        for (const auto& d : line.Devices())
            text += (text.empty() ? "" : "\n") + DeviceLine(*d, now);
        return {text.empty() ? "no devices" : text};
    }
    if (verb == "busy" || verb == "turnaround") {
        int ms = 0;
        if (w.size() != 2 || !ParseInt(w[1], 0, verb == "busy" ? 60000 : 10000, ms))
            return {Error(verb + " MS, with MS 0.." + (verb == "busy" ? "60000" : "10000"))};
        if (verb == "busy")
            line.SetBusyTime(std::chrono::milliseconds(ms));
        else
            line.SetTurnaroundMs(ms);
        return {verb + " " + std::to_string(ms) + " ms"};
    }
    if (verb == "add") {
        std::string error;
        auto entry = w.size() == 2 ? ParseDeviceSpec(w[1], error) : std::nullopt;
        if (!entry) return {Error(w.size() == 2 ? error : "add ADDR:TYPE[:VERSION]")};
        VirtualDevice* d = line.Add(entry->address, static_cast<uint8_t>(entry->type),
                                    static_cast<uint8_t>(entry->version), now);
        if (!d)
            return {Error("bus address " + std::to_string(entry->address) +
                          " is taken or the line holds 32 devices")};
        return {DeviceLine(*d, now)};
    }

    // Everything else names a device.
    static const char* const kDeviceVerbs[] = {"pressure", "mode",  "fault",   "show",
                                               "remove",   "type",  "version", "blocklen",
                                               "byte",     "noise", "measure"};
    if (std::find(std::begin(kDeviceVerbs), std::end(kDeviceVerbs), verb) == std::end(kDeviceVerbs))
        return {Error("unknown command \"" + verb + "\" (try help)")};
    int address = 0;
    if (w.size() < 2 || !ParseInt(w[1], 1, 32, address))
        return {Error(verb + " needs a bus address 1..32 (try help)")};
    VirtualDevice* d = line.Find(address, now);
    if (!d) return {Error("no device answers at " + std::to_string(address))};

    int a = 0, b = 0;
    if (verb == "show" && w.size() == 2) return {ShowDevice(*d, now)};
    if (verb == "remove" && w.size() == 2) {
        line.Remove(address, now);
        return {"removed device " + std::to_string(address)};
    }
    if (verb == "pressure" && w.size() == 4 && ParseInt(w[2], 1, 2, a)) {
        double kPa = 0;
        if (w[3] == "break") {
            d->SetLineBreak(a);
            return {"channel " + w[2] + ": line break"};
        }
        if (ParseKpa(w[3], kPa)) {
            d->SetPressure(a, kPa);
            return {"channel " + w[2] + ": " + w[3] + " kPa"};
        }
    }
    if (verb == "pressure")
        return {Error("pressure ADDR CH KPA|break, with CH 1 or 2 and KPA a number")};
    if (verb == "mode" && w.size() == 3 && (w[2] == "priv" || w[2] == "user")) {
        d->SetPrivileged(w[2] == "priv");
        return {d->Privileged() ? "privileged" : "non-privileged"};
    }
    if (verb == "mode") return {Error("mode ADDR priv|user")};
    if (verb == "fault" && w.size() >= 3) return SetFault(*d, w);
    if (verb == "fault") return {Error("fault ADDR KIND [ARG...] (try help)")};
    if (verb == "type" && w.size() == 3 && ParseInt(w[2], 0, 255, a)) {
        d->SetType(static_cast<uint8_t>(a));
        return {DeviceLine(*d, now)};
    }
    if (verb == "version" && w.size() == 3 && ParseInt(w[2], 0, 255, a)) {
        d->SetVersion(static_cast<uint8_t>(a));
        return {DeviceLine(*d, now)};
    }
    if (verb == "blocklen" && w.size() == 3 && ParseInt(w[2], 18, 30, a)) {
        d->SetBlockLength(static_cast<size_t>(a));
        return {"block length " + w[2]};
    }
    if (verb == "byte" && w.size() == 4 &&
        ParseInt(w[2], 0, static_cast<int>(d->Block().size()) - 1, a) &&
        ParseInt(w[3], 0, 255, b)) {
        d->SetByte(static_cast<size_t>(a), static_cast<uint8_t>(b));
        return {"byte " + w[2] + " = " + w[3]};
    }
    if (verb == "noise" && w.size() == 3 && ParseInt(w[2], 0, 1000, a)) {
        d->SetNoise(a);
        return {"noise " + w[2]};
    }
    if (verb == "measure" && w.size() == 3 && w[2] == "model") {
        d->fixedMeasurement.reset();
        return {"measurements from the model"};
    }
    if (verb == "measure" && (w.size() == 5 || w.size() == 8)) {
        Measurement m;
        for (size_t c = 0; 2 + 3 * c + 2 < w.size(); ++c) {
            int result = 0, status = 0, adc = 0;
            if (!ParseInt(w[2 + 3 * c], -32768, 32767, result) ||
                !ParseInt(w[3 + 3 * c], 0, 255, status) ||
                !ParseInt(w[4 + 3 * c], -32768, 32767, adc)) {
                return {Error("measure ADDR RESULT STATUS ADC [RESULT STATUS ADC]")};
            }
            m.result[c] = static_cast<int16_t>(result);
            m.status[c] = static_cast<uint8_t>(status);
            m.adc[c] = static_cast<int16_t>(adc);
        }
        d->fixedMeasurement = m;
        return {"fixed measurements"};
    }
    return {Error("wrong arguments for " + verb + " (try help)")};
}

}  // namespace vsim
