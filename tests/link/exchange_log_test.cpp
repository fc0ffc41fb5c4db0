// The exchange monitor's record on a scripted line: a verdict on every reply, the frames in
// the order they passed, a bounded memory, and a saved file that reads back.
#include <gtest/gtest.h>

#include <sstream>

#include "link/exchange_log.h"
#include "support/scripted_port.h"

namespace {

using Direction = ExchangeFrame::Direction;

TEST(ExchangeLog, JudgesEachReplyOfEachAttempt) {
    const Bytes good = WithCrc({0x01, 0x11, 0x03, 0x01, 0xFF, 0x6A});
    Bytes badCrc = good;
    badCrc.back() ^= 0xFF;
    struct Case {
        const char* what;
        Bytes reply;  // to every attempt
        std::vector<std::string> verdicts;
    };
    const Case cases[] = {
        {"good", good, {"ответ верен"}},
        {"silent", {}, {"нет ответа", "нет ответа"}},
        {"bad checksum", badCrc, {"ошибка контрольной суммы", "ошибка контрольной суммы"}},
        {"exception", WithCrc({0x01, 0x91, 0x02}), {"исключение 02"}},
        {"foreign function", WithCrc({0x01, 0x03, 0x02, 0, 0}), {"чужой ответ", "чужой ответ"}},
        {"other address",
         WithCrc({0x02, 0x11, 0x03, 1, 0xFF, 0x6A}),
         {"чужой адрес", "чужой адрес"}},
        {"short", Bytes(good.begin(), good.begin() + 5), {"короткий ответ", "короткий ответ"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeClock clock;
        auto backend = std::make_unique<ScriptedBackend>();
        backend->clock = &clock;
        backend->responder = [&](const Bytes&) { return c.reply; };
        TComPort port(std::move(backend));
        ApplyComPort1Design(port);
        port.Open();
        TComPortClass link(port, clock);
        link.SetStage1Attempts(2);
        link.SetStage2Attempts(2);
        ExchangeLog log;
        link.Observer = &log;
        ReplyBuffer reply{};
        link.Transact(0, 17, {}, reply);

        std::vector<std::string> verdicts;
        for (size_t i = 0; i < log.Frames().size(); ++i) {
            const ExchangeFrame& f = log.Frames()[i];
            // Requests and replies take turns.
            EXPECT_EQ(f.direction, i % 2 == 0 ? Direction::Request : Direction::Reply) << i;
            if (f.direction == Direction::Reply) {
                verdicts.push_back(f.verdict);
                EXPECT_GE(f.replyNs, 0);
            } else {
                EXPECT_EQ(f.bytes, WithCrc({0x01, 0x11}));
            }
        }
        EXPECT_EQ(verdicts, c.verdicts);
    }
}

// 100 000 frames pass; the last 10 000 stay, and the saved file reads back as they were.
TEST(ExchangeLog, KeepsTheLastFramesAndSavesThemReadably) {
    ExchangeLog log;
    log.wallOffsetNs = 1'796'000'000'123'000'000;  // the link clock's zero, a December noon
    const Bytes request = WithCrc({0x05, 0x11});
    const Bytes reply = WithCrc({0x05, 0x11, 0x03, 0x02, 0xFF, 0x64});
    for (int64_t i = 0; i < 50000; ++i) {
        log.RequestWritten(i * 1'000'000, request);
        log.ReplyRead(i * 1'000'000 + 7'250'000, reply, 7'250'000);
        log.TransactionEnded(i * 1'000'000 + 8'000'000, 0, 1);
    }
    ASSERT_EQ(log.Frames().size(), ExchangeLog::kDefaultCapacity);
    EXPECT_EQ(log.Frames().front().timeNs, 45000 * 1'000'000LL);  // the 45 001st request

    std::stringstream file;
    log.Save(file);
    const std::string firstLine = file.str().substr(0, file.str().find('\n'));
    EXPECT_EQ(firstLine.substr(0, 5), "2026-");
    EXPECT_EQ(firstLine.substr(firstLine.find('\t')), "\t->\t5\t17\t05 11 C2 EC");
    const std::vector<ExchangeFrame> back = ExchangeLog::Load(file);
    ASSERT_EQ(back.size(), log.Frames().size());
    for (size_t i = 0; i < back.size(); i += 997) {
        // Read back on the system clock, to the millisecond.
        EXPECT_EQ(back[i].timeNs, log.WallMs(log.Frames()[i]) * 1'000'000);
        EXPECT_EQ(back[i].direction, log.Frames()[i].direction);
        EXPECT_EQ(back[i].bytes, log.Frames()[i].bytes);
        EXPECT_EQ(back[i].verdict, log.Frames()[i].verdict);
        EXPECT_EQ(back[i].replyNs, log.Frames()[i].replyNs);
    }

    log.paused = true;
    log.RequestWritten(0, request);
    EXPECT_EQ(log.Frames().size(), ExchangeLog::kDefaultCapacity);
    log.Clear();
    EXPECT_TRUE(log.Frames().empty());
}

}  // namespace
