// Our transactions over the real POSIX port against libmodbus, an independent Modbus RTU
// implementation serving as device 1 on the far end of a pseudo-terminal.
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "link/Comportclass.h"
#include "support/pty_pair.h"

namespace {

class ModbusPeer : public ::testing::Test {
  protected:
    ModbusPeer() {
        ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);  // the path is never opened
        modbus_set_slave(ctx, 1);
        modbus_set_socket(ctx, pty.MasterFd());
        map = modbus_mapping_new(5000, 0, 10, 0);
        map->tab_registers[0] = 0x1234;
        map->tab_registers[1] = 0xABCD;
        server = std::thread([this] { Serve(); });

        ApplyComPort1Design(port);
        port.SetPort(pty.SlavePath());
        port.Open();
    }
    ~ModbusPeer() override {
        stop = true;
        server.join();
        modbus_mapping_free(map);
        modbus_set_socket(ctx, -1);
        modbus_free(ctx);
    }

    void Serve() {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop) {
            pollfd pfd{pty.MasterFd(), POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            int n = modbus_receive(ctx, query);
            if (n > 0) modbus_reply(ctx, query, n, map);
        }
    }

    PtyPair pty;
    modbus_t* ctx = nullptr;
    modbus_mapping_t* map = nullptr;
    std::atomic<bool> stop{false};
    std::thread server;
    TComPort port;
    TComPortClass link{port};
    ReplyBuffer reply{};
};

TEST_F(ModbusPeer, ReadHoldingRegistersGivesACountedReply) {
    const uint8_t payload[] = {0x00, 0x00, 0x00, 0x02};
    ASSERT_EQ(link.Transact(0, 3, payload, reply), lrOk);
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(reply[2], 4);
    EXPECT_EQ(reply[3], 0x12);
    EXPECT_EQ(reply[6], 0xCD);
    EXPECT_EQ(link.GetReplyLength(), 9);
}

TEST_F(ModbusPeer, WriteSingleCoilIsEchoedAtTheRequestLength) {
    const uint8_t payload[] = {0x10, 0x01, 0xFF, 0x00};
    ASSERT_EQ(link.Transact(0, 5, payload, reply), lrOk);
    EXPECT_EQ(link.GetReplyLength(), 8);
    const uint8_t echo[] = {0x01, 0x05, 0x10, 0x01, 0xFF, 0x00, 0xD9, 0x3A};
    EXPECT_TRUE(std::equal(std::begin(echo), std::end(echo), reply.begin()));
    EXPECT_EQ(map->tab_bits[0x1001], 1);
}

TEST_F(ModbusPeer, ReportServerIdGivesACountedReply) {
    ASSERT_EQ(link.Transact(0, 17, {}, reply), lrOk);
    EXPECT_EQ(reply[1], 17);
    EXPECT_GE(reply[2], 2);  // server id and run indicator at least
    EXPECT_EQ(link.GetReplyLength(), reply[2] + 5);
}

TEST_F(ModbusPeer, UnsupportedFunctionGivesItsExceptionCode) {
    ASSERT_EQ(link.Transact(0, 66, {}, reply), MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    EXPECT_EQ(reply[1], 66 | 0x80);
    EXPECT_EQ(link.GetReplyLength(), 5);
}

}  // namespace
