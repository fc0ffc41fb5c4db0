#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "device/Obrnastr.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A function-68 reply frame carrying the given block (the CRC bytes are not looked at).
Bytes BlockReply(const Bytes& block) {
    Bytes frame(block.size() + 5, 0);
    frame[0] = 0x01;
    frame[1] = 0x44;
    frame[2] = static_cast<uint8_t>(block.size());
    std::copy(block.begin(), block.end(), frame.begin() + 3);
    return frame;
}

Bytes Counting(size_t n, uint8_t first = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(first + i);
    return b;
}

TProgVEKClass LoadedRecord(const Bytes& block) {
    TProgVEKClass r;
    r.SetBlockLength(static_cast<uint8_t>(block.size()));
    r.LoadBlock(BlockReply(block));
    return r;
}

TEST(DeviceRecord, StartsEmpty) {
    TProgVEKClass r;
    EXPECT_EQ(r.GetBlockLength(), 0);
    EXPECT_EQ(r.TypeCode, 0);
    EXPECT_EQ(r.Changed + r.DataRead + r.LayoutReady + r.NonPrivileged, 0);
    EXPECT_EQ(r.LastEdit, nullptr);
    EXPECT_EQ(r.GetResult1(), 0);
}

TEST(DeviceRecord, LoadsAndCopiesTheBlockByItsLength) {
    TProgVEKClass r;
    r.LoadBlock(BlockReply(Counting(22, 0x40)));  // length 0: nothing changes
    EXPECT_EQ(r.GetScaleStart1(), 0);

    r = LoadedRecord(Counting(22, 0x40));
    Bytes payload(30, 0xEE);
    r.CopyBlockTo(payload);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 22), Counting(22, 0x40));
    EXPECT_EQ(payload[22], 0xEE);  // nothing past the length
}

TEST(DeviceRecord, NeverReachesPastItsBlockOrTheFrame) {
    TProgVEKClass r;
    r.SetBlockLength(200);
    EXPECT_EQ(r.GetBlockLength(), 30);
    r.LoadBlock(BlockReply(Counting(40)));  // a reply longer than the block
    Bytes payload(40, 0xEE);
    r.CopyBlockTo(payload);
    EXPECT_EQ(payload[29], 29);
    EXPECT_EQ(payload[30], 0xEE);

    Bytes shortFrame = {0x01, 0x44, 0x1E, 0x07};  // claims 30 bytes, carries one
    r.LoadBlock(shortFrame);
    EXPECT_EQ(r.Block()[0], 0x07);
    EXPECT_EQ(r.Block()[1], 1);  // the rest stays as it was

    Bytes small(5, 0xEE);
    r.CopyBlockTo(small);  // a smaller payload buffer is filled, not overrun
    EXPECT_EQ(small[4], 4);
    r.LoadMeasurements(Bytes{0x01, 0x47});
    r.LoadMeasurements(Bytes{0x01, 0x47, 0x0A, 0x12, 0x34});
    EXPECT_EQ(r.MeasurementArea()[1], 0x34);
}

TEST(DeviceRecord, BlockWordsLowByteFirstAndSigned) {
    Bytes block(22, 0);
    block[5] = 0x34;
    block[6] = 0x12;
    block[0] = 0xFF;
    block[1] = 0xFF;
    TProgVEKClass r = LoadedRecord(block);
    EXPECT_EQ(r.GetSetpoint1(), 4660);
    EXPECT_EQ(r.GetScaleStart1(), -1);

    r.SetSetpoint2(16383);
    EXPECT_EQ(r.Block()[7], 0xFF);
    EXPECT_EQ(r.Block()[8], 0x3F);
    r.SetScaleEnd2(0x12345);  // the low 16 bits are stored
    EXPECT_EQ(r.GetScaleEnd2(), 0x2345);
    r.SetScaleStart2(-300);
    EXPECT_EQ(r.GetScaleStart2(), -300);
    r.SetScaleEnd1(-32768);
    EXPECT_EQ(r.GetScaleEnd1(), -32768);
    EXPECT_EQ(r.Block()[11], 0xD4);  // -300 = 0xFED4, low byte first
    EXPECT_EQ(r.Block()[12], 0xFE);
}

TEST(DeviceRecord, MeasurementWordsHighByteFirst) {
    TProgVEKClass r;
    r.LoadMeasurements(Bytes{0x01, 0x47, 0x0A, 0x12, 0x34, 0xE1, 0xFF, 0x38, 0x80, 0x00, 0x03, 0x7F,
                             0xFF, 0xAA, 0xBB, 0, 0});
    EXPECT_EQ(r.GetResult1(), 4660);
    EXPECT_EQ(r.GetStatus(1), 0xE1);
    EXPECT_EQ(r.GetAdc1(), -200);
    EXPECT_EQ(r.GetResult2(), -32768);
    EXPECT_EQ(r.GetStatus(2), 0x03);
    EXPECT_EQ(r.GetAdc2(), 32767);
    EXPECT_EQ(r.GetStatus(3), 0);
}

TEST(DeviceRecord, BitAndNibbleSettersChangeOnlyTheirField) {
    Bytes block(22, 0);
    block[4] = 0xE7;
    block[9] = 0xFC;
    block[15] = 0x9A;
    block[16] = 0x3A;
    TProgVEKClass r = LoadedRecord(block);

    r.SetContactType(1, 2);
    EXPECT_EQ(r.Block()[4], 0xF7);
    r.SetContactType(0, 2);
    r.SetBreakOutput(0, 2);
    EXPECT_EQ(r.Block()[4], 0xC7);
    r.SetBreakOutput(0, 1);
    r.SetAlarmType1(0);
    r.SetAlarmType2(0);
    EXPECT_EQ(r.Block()[4], 0xC0);
    r.SetContactType(1, 1);
    EXPECT_EQ(r.GetContactType(1), 1);
    EXPECT_EQ(r.GetContactType(2), 0);

    r.SetStartTrim(9, 2);
    EXPECT_EQ(r.Block()[16], 0x9A);
    r.SetEndTrim(6, 1);
    EXPECT_EQ(r.Block()[15], 0x96);
    EXPECT_EQ(r.GetStartTrim(1), 9);
    EXPECT_EQ(r.GetEndTrim(1), 6);

    r.SetCharacteristic(1, 1);
    r.SetRangeStartBit(1, 2);
    EXPECT_EQ(r.Block()[9], 0xFD);
    EXPECT_EQ(r.GetCharacteristic(1), 1);
    EXPECT_EQ(r.GetCharacteristic(2), 0);
    EXPECT_EQ(r.GetRangeStartBit(2), 1);
    EXPECT_EQ(r.Block()[10], 0x02);
}

TEST(DeviceRecord, ChannelNumbersOtherThanOneOrTwoAreIgnored) {
    Bytes block(22, 0xFF);
    TProgVEKClass r = LoadedRecord(block);
    for (int bad : {0, 3, -1}) {
        EXPECT_EQ(r.GetCharacteristic(bad), 0);
        EXPECT_EQ(r.GetBreakOutput(bad), 0);
        EXPECT_EQ(r.GetContactType(bad), 0);
        EXPECT_EQ(r.GetRangeStartBit(bad), 0);
        EXPECT_EQ(r.GetStartTrim(bad), 0);
        EXPECT_EQ(r.GetEndTrim(bad), 0);
        r.SetCharacteristic(0, bad);
        r.SetBreakOutput(0, bad);
        r.SetContactType(0, bad);
        r.SetRangeStartBit(0, bad);
        r.SetStartTrim(0, bad);
        r.SetEndTrim(0, bad);
    }
    EXPECT_EQ(Bytes(r.Block().begin(), r.Block().end()), block);
}

TEST(DeviceRecord, ModeBitAndDeviceNumber) {
    Bytes block(22, 0);
    block[4] = 0x80;
    block[17] = 31;
    TProgVEKClass r = LoadedRecord(block);
    r.UpdateNonPrivileged();
    EXPECT_EQ(r.GetNonPrivileged(), 1);
    EXPECT_EQ(r.GetDeviceNumberByte(), 31);
    r.SetDeviceNumberByte(4);
    EXPECT_EQ(r.Block()[17], 4);

    block[4] = 0x7F;
    r = LoadedRecord(block);
    r.UpdateNonPrivileged();
    EXPECT_EQ(r.GetNonPrivileged(), 0);
}

TEST(DeviceRecord, UninterpretedBytesGoBackAsTheyWereRead) {
    Bytes block = Counting(26, 0xA0);
    block[9] = 0xFC;  // bits 2-7 not interpreted
    TProgVEKClass r = LoadedRecord(block);
    r.SetCharacteristic(1, 1);
    r.SetSetpoint1(100);
    Bytes payload(26);
    r.CopyBlockTo(payload);
    EXPECT_EQ(payload[9], 0xFD);
    EXPECT_EQ(Bytes(payload.begin() + 18, payload.end()), Bytes(block.begin() + 18, block.end()));
}

}  // namespace
