// The simulated transducer by itself: its answers to each function code, the busy window and
// renumbering after a block write, calibration mode, and the measurement model. Frames are
// built and checked with the tool's own checksum, so the two implementations check each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "link/Comportclass.h"
#include "virtual_device.h"
#include "virtual_line.h"

using namespace vsim;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t address, uint8_t function, Bytes payload = {}) {
    Bytes frame(2 + payload.size());
    frame[0] = address;
    frame[1] = function;
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    const uint16_t crc = TComPortClass::Crc16(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

bool CrcRight(const Bytes& frame) {
    return TComPortClass::ReplyCheckPasses(frame.data(), static_cast<int32_t>(frame.size()));
}

const SimTime t0{};

class Device : public ::testing::Test {
  protected:
    Device() { dev.SetNoise(0); }

    Bytes Ask(uint8_t function, Bytes payload = {}, SimTime now = t0, uint8_t address = 3) {
        auto reply = dev.Answer(Frame(address, function, std::move(payload)), now);
        return reply ? *reply : Bytes{};
    }
    // Scale codes exactly on the sensor's line for a range, for round results.
    void Calibrate(int channel, double from, double to) {
        dev.SetWord(channel == 1 ? blk::kScaleStart1 : blk::kScaleStart2,
                    VirtualDevice::AdcForPressure(from));
        dev.SetWord(channel == 1 ? blk::kScaleEnd1 : blk::kScaleEnd2,
                    VirtualDevice::AdcForPressure(to));
    }

    VirtualDevice dev{3, kTypeVek02, 7};
};

TEST_F(Device, IdentificationCarriesVersionOwnByteAndType) {
    const Bytes reply = Ask(17);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(reply[0], 3);
    EXPECT_EQ(reply[1], 17);
    EXPECT_EQ(reply[2], 3);
    EXPECT_EQ(reply[3], 7);
    EXPECT_EQ(reply[4], dev.OwnByte());
    EXPECT_EQ(reply[5], kTypeVek02);
    EXPECT_TRUE(CrcRight(reply));
}

TEST_F(Device, BlockReadGivesTheLittleEndianBlockWithItsOwnNumber) {
    dev.SetWord(blk::kSetpoint1, 0x1234);
    const Bytes reply = Ask(68);
    ASSERT_EQ(reply.size(), kDefaultBlockLength + 5);
    EXPECT_EQ(reply[2], kDefaultBlockLength);
    EXPECT_EQ(reply[3 + blk::kSetpoint1], 0x34);
    EXPECT_EQ(reply[3 + blk::kSetpoint1 + 1], 0x12);
    EXPECT_EQ(reply[3 + blk::kNumber], 2);  // 0-based: bus address 3
    EXPECT_TRUE(CrcRight(reply));

    ASSERT_TRUE(dev.SetBlockLength(30));
    EXPECT_EQ(Ask(68)[2], 30);
    EXPECT_FALSE(dev.SetBlockLength(17));
    EXPECT_FALSE(dev.SetBlockLength(31));
}

TEST_F(Device, MeasurementsAreTenBytesHighByteFirst) {
    Calibrate(1, 20, 100);
    dev.SetPressure(1, 60);  // half the range
    const Bytes reply = Ask(71, {0x00, 0x01});
    ASSERT_EQ(reply.size(), 15u);
    EXPECT_EQ(reply[2], 10);
    EXPECT_EQ((reply[3] << 8) | reply[4], 8192);  // round(0.5 * 16383)
    EXPECT_EQ((reply[6] << 8) | reply[7], VirtualDevice::AdcForPressure(60));
    EXPECT_TRUE(CrcRight(reply));
}

TEST_F(Device, RefusedRequestsGetTheirExceptions) {
    const Bytes wrongArea = Ask(71, {0x00, 0x02});
    EXPECT_EQ(wrongArea, Frame(3, 71 | 0x80, {2}));
    EXPECT_EQ(Ask(71, {0x01})[2], 3);
    for (uint8_t function : {3, 6, 15, 70, 100, 0x7F}) {
        const Bytes reply = Ask(function);
        ASSERT_EQ(reply.size(), 5u) << int(function);
        EXPECT_EQ(reply[1], function | 0x80);
        EXPECT_EQ(reply[2], 1);
        EXPECT_TRUE(CrcRight(reply));
    }
    EXPECT_EQ(Ask(5, {0x10, 0x01, 0x12, 0x34})[2], 3);
    EXPECT_EQ(Ask(5, {0x00, 0x01, 0xFF, 0x00})[2], 2);
    EXPECT_EQ(Ask(5, {0x10, 0x01})[2], 3);
}

TEST_F(Device, CalibrationModeIsSwitchedByFunction5AndEndedByAWrite) {
    const Bytes on = Frame(3, 5, {0x10, 0x01, 0xFF, 0x00});
    EXPECT_EQ(dev.Answer(on, t0), on);  // echoed at the request's length
    EXPECT_TRUE(dev.CalibrationMode());
    EXPECT_EQ(dev.Measure().status[0] & kStatusCalibration, kStatusCalibration);

    const Bytes off = Frame(3, 5, {0x10, 0x01, 0x00, 0x00});
    EXPECT_EQ(dev.Answer(off, t0), off);
    EXPECT_FALSE(dev.CalibrationMode());

    dev.Answer(on, t0);
    EXPECT_FALSE(dev.Answer(Frame(3, 69, dev.Block()), t0));
    EXPECT_FALSE(dev.CalibrationMode());
}

TEST_F(Device, WriteMakesTheDeviceBusyThenItAnswersAtItsNewNumber) {
    dev.SetBusyTime(300ms);
    Bytes block = dev.Block();
    block[blk::kNumber] = 9;  // bus address 10
    block[20] = 0x77;         // a byte the device does not interpret
    EXPECT_FALSE(dev.Answer(Frame(3, 69, block), t0));
    EXPECT_TRUE(dev.AwaitingConfirmation());

    // While busy: every request at the old address gets exception 6, a second write too.
    EXPECT_EQ(dev.BusAddress(t0 + 299ms), 3);
    EXPECT_EQ(Ask(17, {}, t0 + 299ms), Frame(3, 17 | 0x80, {6}));
    EXPECT_EQ(Ask(69, block, t0 + 1ms)[2], 6);
    EXPECT_EQ(Ask(14, {}, t0 + 100ms)[2], 6);

    EXPECT_EQ(dev.BusAddress(t0 + 300ms), 10);
    const Bytes confirm = Frame(10, 14);
    EXPECT_EQ(dev.Answer(confirm, t0 + 300ms), confirm);
    EXPECT_FALSE(dev.AwaitingConfirmation());
    const Bytes read = Ask(68, {}, t0 + 301ms, 10);
    EXPECT_EQ(read[0], 10);
    EXPECT_EQ(Bytes(read.begin() + 3, read.end() - 2), block);
    EXPECT_EQ(dev.BlocksStored(), 1);
}

TEST_F(Device, BlockOfAnotherLengthIsNotTaken) {
    Bytes block = dev.Block();
    block.push_back(0);
    EXPECT_FALSE(dev.Answer(Frame(3, 69, block), t0));
    EXPECT_FALSE(dev.Busy(t0));
    EXPECT_EQ(dev.BlocksStored(), 0);
}

TEST_F(Device, ModeBitIsTheDevicesOwnAndGuardsPrivilegedFields) {
    const Bytes original = dev.Block();
    Bytes edited = original;
    edited[blk::kFlags] |= blk::kNonPrivileged | blk::kContactNc1;
    edited[blk::kScaleEnd1] ^= 0x10;
    edited[blk::kCharacteristic] ^= 0x01;
    edited[blk::kTrim2] = 0x9F;
    edited[blk::kSetpoint1] ^= 0x01;

    // Privileged: everything is taken except the mode bit.
    dev.Answer(Frame(3, 69, edited), t0);
    Bytes expected = edited;
    expected[blk::kFlags] &= ~blk::kNonPrivileged;
    EXPECT_EQ(dev.Block(), expected);

    // Non-privileged: calibration, characteristic, range and trims stay; the rest is taken.
    VirtualDevice locked{3, kTypeVek02};
    locked.SetPrivileged(false);
    Bytes lockedEdit = locked.Block();
    lockedEdit[blk::kFlags] &= ~blk::kNonPrivileged;
    lockedEdit[blk::kScaleStart2] ^= 0x22;
    lockedEdit[blk::kRangeStart] ^= 0x01;
    lockedEdit[blk::kSetpoint2] ^= 0x05;
    const Bytes before = locked.Block();
    locked.Answer(Frame(3, 69, lockedEdit), t0);
    EXPECT_FALSE(locked.Privileged());
    EXPECT_EQ(locked.Block()[blk::kScaleStart2], before[blk::kScaleStart2]);
    EXPECT_EQ(locked.Block()[blk::kRangeStart], before[blk::kRangeStart]);
    EXPECT_EQ(locked.Block()[blk::kSetpoint2], lockedEdit[blk::kSetpoint2]);
}

TEST_F(Device, LinearAndSquareRootResults) {
    Calibrate(1, 20, 100);
    Calibrate(2, 0, 100);
    dev.SetBit(blk::kCharacteristic, 0x01, false);
    dev.SetBit(blk::kCharacteristic, 0x02, true);
    struct Case {
        double p1, p2;
        int r1, r2;
    };
    // Square root: 128 * sqrt(f * 16383); the tool's (r / 128)^2 / 16383 gives f back.
    for (const Case& c : {Case{20, 0, 0, 0}, Case{100, 100, 16383, 16383}, Case{40, 25, 4096, 8192},
                          Case{30, 1, 2048, 1638}}) {
        dev.SetPressure(1, c.p1);
        dev.SetPressure(2, c.p2);
        const Measurement m = dev.Measure();
        EXPECT_NEAR(m.result[0], c.r1, 1) << c.p1;
        EXPECT_NEAR(m.result[1], c.r2, 1) << c.p2;
        EXPECT_EQ(m.status[0] & 0xE0, 0);
        const double f2 = std::pow(m.result[1] / 128.0, 2) / 16383.0;
        EXPECT_NEAR(f2 * 100, c.p2, 0.05);
    }
    // Below the range start the result goes on linearly below zero, square root or not.
    dev.SetPressure(1, 19);
    dev.SetPressure(2, -1);
    const Measurement below = dev.Measure();
    EXPECT_NEAR(below.result[0], -205, 1);
    EXPECT_NEAR(below.result[1], -164, 1);
}

TEST_F(Device, InputErrorsSetErrorBitsAndDriveTheChosenBreakOutput) {
    dev.SetBit(blk::kFlags, blk::kBreakMax1, false);
    dev.SetBit(blk::kFlags, blk::kBreakMax2, true);
    dev.SetLineBreak(1);
    dev.SetPressure(2, 200);
    Measurement m = dev.Measure();
    EXPECT_EQ(m.adc[0], 0);
    EXPECT_EQ(m.status[0] & 0xE0, kStatusBelowRange);
    EXPECT_EQ(m.result[0], kBreakOutputMin);
    EXPECT_EQ(m.status[1] & 0xE0, kStatusAboveRange);
    EXPECT_EQ(m.result[1], kBreakOutputMax);

    dev.SetPressure(1, 50);
    dev.SetWord(blk::kScaleEnd1, dev.Word(blk::kScaleStart1));
    m = dev.Measure();
    EXPECT_EQ(m.status[0] & 0xE0, kStatusBadScale);
}

TEST_F(Device, SetpointBitsFollowTheAlarmType) {
    Calibrate(1, 20, 100);
    Calibrate(2, 20, 100);
    dev.SetBit(blk::kCharacteristic, 0x03, false);
    dev.SetWord(blk::kSetpoint1, 8000);
    dev.SetWord(blk::kSetpoint2, 8000);
    dev.SetBit(blk::kFlags, blk::kAlarmHigh1, true);
    dev.SetBit(blk::kFlags, blk::kAlarmHigh2, false);
    dev.SetPressure(1, 70);  // above: H violated
    dev.SetPressure(2, 30);  // below: L violated
    Measurement m = dev.Measure();
    EXPECT_EQ(m.status[0], kStatusSetpointHigh);
    EXPECT_EQ(m.status[1], kStatusSetpointLow);
    dev.SetPressure(1, 30);
    dev.SetPressure(2, 70);
    m = dev.Measure();
    EXPECT_EQ(m.status[0], 0);
    EXPECT_EQ(m.status[1], 0);
}

TEST(OneChannelDevice, BothSetpointsWatchChannelOne) {
    VirtualDevice dev{1, kTypeVek01};
    dev.SetNoise(0);
    dev.SetWord(blk::kSetpoint1, 12000);
    dev.SetWord(blk::kSetpoint2, 4000);
    dev.SetBit(blk::kFlags, blk::kAlarmHigh1 | blk::kAlarmHigh2, false);  // both L
    dev.SetBit(blk::kCharacteristic, 0x01, false);
    dev.SetPressure(1, 60);
    dev.SetPressure(2, 0);  // no second channel: ignored
    const Measurement m = dev.Measure();
    EXPECT_GT(m.result[0], 4000);
    EXPECT_LT(m.result[0], 12000);
    EXPECT_EQ(m.status[0], kStatusSetpointLow);
    EXPECT_EQ(m.status[1], 0);  // setpoint 2 is not violated
    EXPECT_EQ(m.result[1], 0);
    EXPECT_EQ(m.adc[1], 0);
}

TEST(SensorNoise, StaysWithinItsAmplitude) {
    VirtualDevice dev{1, kTypeVek02};
    dev.SetNoise(3);
    dev.SetPressure(1, 50);
    const int nominal = VirtualDevice::AdcForPressure(50);
    bool varied = false;
    for (int i = 0; i < 200; ++i) {
        const int adc = dev.Measure().adc[0];
        EXPECT_LE(std::abs(adc - nominal), 3);
        varied = varied || adc != nominal;
    }
    EXPECT_TRUE(varied);
}

// ---- the line: routing and the faults shown on the wire ----

class Line : public ::testing::Test {
  protected:
    Line() {
        a = line.Add(1, kTypeVek02, 1, t0);
        b = line.Add(4, kTypeVek01, 2, t0);
    }
    std::optional<WireReply> Send(const Bytes& frame, SimTime now = t0) {
        return line.Process(frame, now);
    }

    VirtualLine line;
    VirtualDevice* a = nullptr;
    VirtualDevice* b = nullptr;
};

TEST_F(Line, RoutesByAddressAndIgnoresBadFrames) {
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Send(Frame(4, 17))->bytes[5], kTypeVek01);
    EXPECT_EQ(Send(Frame(1, 17))->bytes[5], kTypeVek02);
    EXPECT_FALSE(Send(Frame(2, 17)));
    EXPECT_FALSE(Send(Frame(0, 17)));
    Bytes corrupt = Frame(1, 17);
    corrupt[2] ^= 1;
    EXPECT_FALSE(Send(corrupt));
    EXPECT_FALSE(Send({0x01, 0x11, 0xC0}));
    EXPECT_FALSE(Send({}));
    // Two requests with no silence between them are one frame, and not a valid one.
    Bytes joined = Frame(1, 17);
    const Bytes second = Frame(4, 17);
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_FALSE(Send(joined));
}

TEST_F(Line, AddressesAreUniqueAndTheLineHoldsThirtyTwo) {
    EXPECT_EQ(line.Add(1, kTypeVek02, 1, t0), nullptr);
    EXPECT_EQ(line.Add(0, kTypeVek02, 1, t0), nullptr);
    EXPECT_EQ(line.Add(33, kTypeVek02, 1, t0), nullptr);
    for (int address = 1; address <= 32; ++address)
        line.Add(address, kTypeKsvl, 1, t0);
    EXPECT_EQ(line.Devices().size(), 32u);
    EXPECT_TRUE(line.Remove(4, t0));
    EXPECT_EQ(line.Find(4, t0), nullptr);
    EXPECT_FALSE(line.Remove(4, t0));
}

TEST_F(Line, WireFaultsChangeTheReply) {
    const Bytes good = Send(Frame(1, 17))->bytes;

    a->faults.badCrc = true;
    auto reply = Send(Frame(1, 17));
    EXPECT_EQ(reply->bytes.size(), good.size());
    EXPECT_FALSE(CrcRight(reply->bytes));
    a->faults = {};

    a->faults.foreignFunction = 256;
    reply = Send(Frame(1, 17));
    EXPECT_EQ(TComPortClass::ClassifyHeader(17, reply->bytes[1]), HeaderKind::Foreign);
    EXPECT_TRUE(CrcRight(reply->bytes));
    a->faults.foreignFunction = 0x2B;
    EXPECT_EQ(Send(Frame(1, 17))->bytes[1], 0x2B);
    a->faults = {};

    a->faults.shortLength = 3;
    EXPECT_EQ(Send(Frame(1, 17))->bytes, Bytes(good.begin(), good.begin() + 3));
    a->faults.shortLength = 0;
    EXPECT_FALSE(Send(Frame(1, 17)));
    a->faults = {};

    a->faults.splitGapMs = 150;
    reply = Send(Frame(1, 17));
    EXPECT_EQ(reply->bytes, good);
    EXPECT_EQ(reply->splitAt, good.size() / 2);
    EXPECT_EQ(reply->splitGapMs, 150);
    a->faults.splitAt = 100;  // past the end: the last byte comes late
    EXPECT_EQ(Send(Frame(1, 17))->splitAt, good.size() - 1);
    a->faults = {};

    a->faults.exceptionCode = 4;
    EXPECT_EQ(Send(Frame(1, 68))->bytes, Frame(1, 68 | 0x80, {4}));
    a->faults = {};

    a->faults.longBlock = 32;
    reply = Send(Frame(1, 68));
    EXPECT_EQ(reply->bytes[2], 32);
    EXPECT_TRUE(CrcRight(reply->bytes));
}

TEST_F(Line, SilentAndDroppingDevices) {
    a->faults.silent = true;
    EXPECT_FALSE(Send(Frame(1, 69, a->Block())));
    EXPECT_EQ(a->BlocksStored(), 0);  // a silent device does nothing either
    a->faults = {};

    a->faults.dropEvery = 3;
    std::vector<bool> answered;
    for (int i = 0; i < 6; ++i)
        answered.push_back(Send(Frame(1, 17)).has_value());
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false}));
}

TEST_F(Line, AnotherTypeAndVersionAfterAWrite) {
    a->faults.typeAfterWrite = kTypeVek01;
    a->faults.versionAfterWrite = 9;
    EXPECT_EQ(Send(Frame(1, 17))->bytes[5], kTypeVek02);
    line.SetBusyTime(0ms);
    EXPECT_FALSE(Send(Frame(1, 69, a->Block())));
    const Bytes id = Send(Frame(1, 17))->bytes;
    EXPECT_EQ(id[3], 9);
    EXPECT_EQ(id[5], kTypeVek01);
    EXPECT_FALSE(a->faults.Any());  // used up by the write
}

TEST_F(Line, RenumberedDeviceMovesAfterTheBusyWindow) {
    line.SetBusyTime(1000ms);
    Bytes block = a->Block();
    block[blk::kNumber] = 3;  // onto bus address 4, where device b already answers
    Send(Frame(1, 69, block));
    EXPECT_EQ(line.Find(1, t0 + 999ms), a);
    EXPECT_EQ(line.Find(1, t0 + 1000ms), nullptr);
    // Both now answer at 4: the first on the line wins.
    EXPECT_EQ(line.Find(4, t0 + 1000ms), a);
}

}  // namespace
