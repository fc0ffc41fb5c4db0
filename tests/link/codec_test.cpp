#include <gtest/gtest.h>

#include <algorithm>

#include "link/Comportclass.h"
#include "support/scripted_port.h"

namespace {

class Codec : public ::testing::Test {
  protected:
    // Frames a request the way a transaction sets it up, and returns the frame's bytes.
    Bytes Build(uint8_t device, uint8_t function, const Bytes& payload = {}) {
        ReplyBuffer reply{};
        int32_t result = link.Transact(device, function, payload, reply);
        lastResult = result;
        const FrameArea& area = link.RequestArea();
        return Bytes(area.begin(), area.begin() + link.GetRequestLength());
    }

    TComPort port{std::make_unique<ScriptedBackend>()};  // closed: nothing is sent
    TComPortClass link{port};
    int32_t lastResult = -1;
};

TEST_F(Codec, BuildsTheKnownRequestVectors) {
    EXPECT_EQ(Build(0, 17), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
    EXPECT_EQ(lastResult, lrPortNotConnected);
    EXPECT_EQ(Build(31, 17), (Bytes{0x20, 0x11, 0xD8, 0x7C}));
    EXPECT_EQ(Build(0, 5, {0x10, 0x01, 0xFF, 0x00}),
              (Bytes{0x01, 0x05, 0x10, 0x01, 0xFF, 0x00, 0xD9, 0x3A}));
    EXPECT_EQ(link.GetRequestLength(), 8);
    EXPECT_EQ(link.GetPayloadLength(), 4);
    EXPECT_EQ(Build(0, 14).size(), 4u);
}

TEST_F(Codec, AddressIsDeviceNumberPlusOneModulo256) {
    EXPECT_EQ(Build(255, 17)[0], 0x00);
    EXPECT_EQ(Build(9, 17)[0], 10);
}

TEST_F(Codec, Function70GoesToBroadcastOnlyWithAPayload) {
    EXPECT_EQ(Build(4, 70, {0xAB})[0], 0x00);
    EXPECT_EQ(Build(4, 70)[0], 0x05);
    Bytes frame = Build(4, 70, {0xAB});
    EXPECT_TRUE(TComPortClass::ReplyCheckPasses(frame.data(), 5));  // CRC over the broadcast
}

TEST_F(Codec, PermitsExactlyTheSeventeenFunctionCodes) {
    const Bytes permitted = {1, 2, 3, 4, 5, 6, 14, 15, 17, 18, 66, 67, 68, 69, 70, 71, 100};
    for (int code = 0; code < 256; ++code) {
        bool expected = std::count(permitted.begin(), permitted.end(), code) == 1;
        EXPECT_EQ(TComPortClass::IsPermittedFunction(static_cast<uint8_t>(code)), expected)
            << "function " << code;
    }
}

TEST_F(Codec, RefusedFunctionLeavesTheFrameUntouched) {
    for (uint8_t code : {7, 16, 19, 0x85}) {
        FrameArea frame;
        frame.fill(0x5A);
        EXPECT_EQ(link.BuildRequest(0, code, nullptr, frame), lrBadFunction);
        EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0x5A; }))
            << "function " << int{code};
    }
}

TEST_F(Codec, OversizedPayloadIsRefusedWithoutTouchingTheArea) {
    Bytes largest(kMaxPayloadLength, 0x33);
    EXPECT_EQ(Build(0, 3, largest).size(), static_cast<size_t>(kFrameAreaSize));
    EXPECT_EQ(lastResult, lrPortNotConnected);  // built, then stopped at the closed port

    Bytes tooLong(kMaxPayloadLength + 1, 0x33);
    ReplyBuffer reply{};
    EXPECT_EQ(link.Transact(0, 3, tooLong, reply), lrBadFunction);
}

TEST(Crc16, MatchesModbusAndHandlesEmptyInput) {
    const uint8_t ascii[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(TComPortClass::Crc16(ascii, 9), 0x4B37);  // the CRC-16/MODBUS check value
    EXPECT_EQ(TComPortClass::Crc16(ascii, 0), 0xFFFF);
    EXPECT_EQ(TComPortClass::Crc16(ascii, -3), 0xFFFF);
}

TEST(ReplyLength, FollowsTheRequestFunction) {
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(3, 8, 0x00), 5);
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(3, 8, 0xFF), 260);
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(6, 8, 0x02), 7);  // no fixed 8 for function 6
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(5, 8, 0x10), 8);
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(14, 4, 0x10), 4);
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(15, 20, 0x10), 8);
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(69, 26, 0x10), 0);
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(70, 5, 0x10), 0);
    EXPECT_EQ(TComPortClass::ExpectedReplyLength(17, 4, 0x05), 10);
}

TEST(Header, ClassifiesNormalExceptionAndForeignReplies) {
    EXPECT_EQ(TComPortClass::ClassifyHeader(3, 0x03), HeaderKind::Normal);
    EXPECT_EQ(TComPortClass::ClassifyHeader(3, 0x83), HeaderKind::Exception);
    EXPECT_EQ(TComPortClass::ClassifyHeader(3, 0x04), HeaderKind::Foreign);
    EXPECT_EQ(TComPortClass::ClassifyHeader(0x44, 0xC4), HeaderKind::Exception);
    EXPECT_EQ(TComPortClass::ClassifyHeader(0x44, 0x84), HeaderKind::Foreign);
}

TEST(ReplyCheck, NeedsBothChecksumBytes) {
    Bytes reply = WithCrc({0x07, 0x03, 0x02, 0x12, 0x34});  // another address still passes
    EXPECT_TRUE(TComPortClass::ReplyCheckPasses(reply.data(), 7));
    for (size_t i : {reply.size() - 2, reply.size() - 1}) {
        Bytes wrong = reply;
        wrong[i] ^= 0x01;
        EXPECT_FALSE(TComPortClass::ReplyCheckPasses(wrong.data(), 7)) << "byte " << i;
    }
    Bytes corrupted = reply;
    corrupted[3] ^= 0x80;
    EXPECT_FALSE(TComPortClass::ReplyCheckPasses(corrupted.data(), 7));
}

}  // namespace
