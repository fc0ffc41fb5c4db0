#include <gtest/gtest.h>

#include <algorithm>

#include "common/operator_message.h"
#include "link/Comportclass.h"
#include "support/message_recorder.h"
#include "support/scripted_port.h"

namespace {

class Transaction : public ::testing::Test {
  protected:
    Transaction() {
        auto backend = std::make_unique<ScriptedBackend>();
        line = backend.get();
        line->clock = &clock;
        port = std::make_unique<TComPort>(std::move(backend));
        ApplyComPort1Design(*port);
        port->Open();
        link = std::make_unique<TComPortClass>(*port, clock);
        link->OnCloseRequest = [this] { ++closeRequests; };
        reply.fill(0xAA);
    }

    // Answers the n-th request (from 0) with answers[n], the last one again after that.
    void Answer(std::vector<Bytes> answers) {
        line->responder = [answers, n = size_t{0}](const Bytes&) mutable {
            return answers[std::min(n++, answers.size() - 1)];
        };
    }

    int32_t Run(uint8_t function, const Bytes& payload = {}) {
        return link->Transact(0, function, payload, reply);
    }

    size_t Sends() const { return line->writes.size(); }

    FakeClock clock;
    ScriptedBackend* line = nullptr;
    std::unique_ptr<TComPort> port;
    std::unique_ptr<TComPortClass> link;
    ReplyBuffer reply{};
    MessageRecorder recorder;
    std::vector<OperatorMessage>& messages = recorder.messages;
    int closeRequests = 0;
};

const Bytes kGoodReply = WithCrc({0x01, 0x03, 0x02, 0x12, 0x34});
const Bytes kBadCrcReply = {0x01, 0x03, 0x02, 0x12, 0x34, 0x00, 0x00};

TEST_F(Transaction, GoodReplyArrivesWholeInTheBuffer) {
    Answer({kGoodReply});
    EXPECT_EQ(Run(3, {0x00, 0x00, 0x00, 0x01}), lrOk);
    EXPECT_TRUE(std::equal(kGoodReply.begin(), kGoodReply.end(), reply.begin()));
    EXPECT_EQ(link->GetReplyLength(), 7);
    EXPECT_EQ(link->GetReplyByteCount(), 2);
    EXPECT_EQ(Sends(), 1u);
    // The send delay comes before the write.
    EXPECT_EQ(clock.SleptMs(), 25);
}

TEST_F(Transaction, ClosedPortOrRefusedFunctionSendNothing) {
    port->Close();
    line->calls.clear();
    EXPECT_EQ(Run(17), lrPortNotConnected);
    EXPECT_EQ(Run(7), lrBadFunction);
    EXPECT_TRUE(line->calls.empty());  // neither written nor purged
}

TEST_F(Transaction, WriteOnlyFunctionsReturnAfterTheWrite) {
    for (uint8_t function : {69, 70}) {
        Answer({kGoodReply});
        EXPECT_EQ(Run(function, {1, 2, 3}), lrOk);
        EXPECT_TRUE(std::all_of(reply.begin(), reply.end(), [](uint8_t b) { return b == 0xAA; }));
    }
    EXPECT_EQ(Sends(), 2u);
}

// A device's exception ends the transaction at once with its code; from 0x80 on the code is
// marked, so that it never reads as one of the link's own codes (0x84: "cannot open the port").
TEST_F(Transaction, ExceptionReplyEndsAtOnce) {
    for (auto [code, result] : {std::pair{0x06, int32_t{lrDeviceBusy}},
                                {0x7F, 0x7F},
                                {0x80, kDeviceExceptionMark | 0x80},
                                {0x84, kDeviceExceptionMark | 0x84},
                                {0xFF, kDeviceExceptionMark | 0xFF}}) {
        line->writes.clear();
        line->input.clear();
        Answer({WithCrc({0x01, 0x83, uint8_t(code)})});
        EXPECT_EQ(Run(3, {0, 0, 0, 1}), result) << code;
        EXPECT_EQ(Sends(), 1u);
        EXPECT_EQ(link->GetReplyLength(), 5);
        EXPECT_EQ(line->input.size(), 2u);  // the checksum is not read
    }
}

TEST_F(Transaction, ExceptionCodeZeroIsReadLikeANormalReply) {
    Answer({WithCrc({0x01, 0x83, 0x00})});
    EXPECT_EQ(Run(3), lrOk);
    EXPECT_EQ(link->GetReplyLength(), 5);

    Answer({WithCrc({0x01, 0x85, 0x00, 0x01, 0xFF, 0x00})});  // fixed length for function 5
    EXPECT_EQ(Run(5, {0x10, 0x01, 0xFF, 0x00}), lrOk);

    // ...and checked like one: a wrong checksum is no success.
    line->writes.clear();
    Answer({{0x01, 0x83, 0x00, 0x00, 0x00}});
    EXPECT_EQ(Run(3), lrChecksumError);
    EXPECT_EQ(Sends(), 10u);
}

TEST_F(Transaction, BodyFailuresUseUpTheSecondStageCount) {
    Answer({{0x01, 0x03, 0x04, 0x11}});  // good header, 1 of 6 body bytes
    EXPECT_EQ(Run(3), lrShortReply);
    EXPECT_EQ(Sends(), 10u);

    line->writes.clear();
    Answer({{0x01, 0x03, 0x04}});  // the body never starts
    EXPECT_EQ(Run(3), lrNoReply);
    EXPECT_EQ(Sends(), 10u);

    line->writes.clear();
    Answer({kBadCrcReply});
    EXPECT_EQ(Run(3), lrChecksumError);
    EXPECT_EQ(Sends(), 10u);
}

TEST_F(Transaction, HeaderCountStartsAfreshAfterEachGoodHeader) {
    std::vector<Bytes> cycle = {{}, {0x01}, {}, {0x01, 0x03}, kBadCrcReply};
    std::vector<Bytes> answers;
    for (int i = 0; i < 10; ++i)
        answers.insert(answers.end(), cycle.begin(), cycle.end());
    answers.push_back(kGoodReply);  // never reached
    Answer(answers);
    EXPECT_EQ(Run(3), lrChecksumError);
    EXPECT_EQ(Sends(), 50u);
    // Every pass resends the whole request.
    for (const Bytes& w : line->writes)
        EXPECT_EQ(w, line->writes.front());
}

TEST_F(Transaction, FiveHeaderFailuresInARowEndWithTheLastCode) {
    Answer({{}, {}, {}, {}, {0x01}});
    EXPECT_EQ(Run(17), lrShortReply);
    EXPECT_EQ(Sends(), 5u);

    line->writes.clear();
    Answer({{0x01}, {}});
    EXPECT_EQ(Run(17), lrNoReply);
    EXPECT_EQ(Sends(), 5u);
}

TEST_F(Transaction, SilentDeviceTakesAboutEightSeconds) {
    Answer({{}});
    int64_t start = clock.NowMs();
    EXPECT_EQ(Run(17), lrNoReply);
    // 5 × (25 ms delay + 1300 ms header read + 300 ms pause)
    EXPECT_EQ(clock.NowMs() - start, 5 * (25 + 1300 + 300));
}

TEST_F(Transaction, SingleHeaderAttemptEndsAfterOneSilence) {
    link->SetStage1Attempts(1);
    Answer({{}});
    EXPECT_EQ(Run(17), lrNoReply);
    EXPECT_EQ(Sends(), 1u);
}

TEST_F(Transaction, AttemptCountsBelowOneStillEnd) {
    link->SetStage1Attempts(0);
    link->SetStage2Attempts(-4);
    EXPECT_EQ(link->GetStage1Attempts(), 1);
    Answer({kBadCrcReply});
    EXPECT_EQ(Run(3), lrChecksumError);
    EXPECT_EQ(Sends(), 1u);
}

TEST_F(Transaction, ForeignReplyIsRetriedAndNeverSucceeds) {
    Answer({WithCrc({0x01, 0x04, 0x02, 0x00, 0x00})});
    int32_t result = Run(3);
    EXPECT_EQ(result, lrReceiveError);
    EXPECT_EQ(Sends(), 5u);
}

// One bad or stray reply costs one attempt: the input is emptied before every resend, so
// late bytes do not shift the next header, and a reply from another address (a late one of an
// earlier request) is not this request's.
TEST_F(Transaction, OneBadReplyCostsOneAttempt) {
    Bytes badWithLateBytes = kBadCrcReply;
    badWithLateBytes.insert(badWithLateBytes.end(), {0x01, 0x03});
    const Bytes otherAddress = WithCrc({0x02, 0x03, 0x02, 0x12, 0x34});
    struct Case {
        const char* what;
        std::vector<Bytes> answers;
        int32_t result;
        size_t sends;
    };
    const Case cases[] = {
        {"a bad reply with late bytes", {badWithLateBytes, kGoodReply}, lrOk, 2},
        {"a late reply of another address", {otherAddress, kGoodReply}, lrOk, 2},
        {"only another address answers", {otherAddress}, lrReceiveError, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        line->writes.clear();
        Answer(c.answers);
        EXPECT_EQ(Run(3), c.result);
        EXPECT_EQ(Sends(), c.sends);
        if (c.result == lrOk) {
            EXPECT_TRUE(std::equal(kGoodReply.begin(), kGoodReply.end(), reply.begin()));
        }
    }
}

// A port that fails anywhere in the exchange ends it with one code, closed; the message is
// the caller's to show, and nothing asks the window to close.
TEST_F(Transaction, PortFailureEndsTheExchangeWithThePortClosed) {
    class BrokenBackend final : public ComPortBackend {
      public:
        explicit BrokenBackend(std::string failing) : failing_(std::move(failing)) {}
        void Open(const std::string&) override {}
        void SetupBuffers(int32_t, int32_t) override {}
        void SetControlBlock(const ComControlBlock&) override {}
        void SetTimeouts(const ComTimeoutValues&) override {}
        void Purge(unsigned) override { Fail("purge", CE_PurgeFailed); }
        void Close() override {}
        int Write(const uint8_t*, int count) override {
            Fail("write", CE_WriteFailed);
            return count;
        }
        int Read(uint8_t*, int) override {
            Fail("read", CE_ReadFailed);
            return 0;
        }

      private:
        void Fail(const char* call, int code) {
            if (failing_ == call) throw EComPort(code, 5);
        }
        std::string failing_;
    };
    for (const char* failing : {"purge", "write", "read"}) {
        TComPort broken(std::make_unique<BrokenBackend>(failing));
        broken.Open();
        TComPortClass brokenLink(broken, clock);
        brokenLink.OnCloseRequest = [this] { ++closeRequests; };
        EXPECT_EQ(brokenLink.Transact(0, 17, {}, reply), lrPortFailed) << failing;
        EXPECT_FALSE(broken.Connected()) << failing;
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(closeRequests, 0);
}

TEST(WaitMs, LastsItsFullTimeAcrossMidnight) {
    FakeClock clock(86'399'990);
    TComPort port(std::make_unique<ScriptedBackend>());
    TComPortClass link(port, clock);
    link.WaitMs(100);
    EXPECT_EQ(clock.NowMs(), 86'399'990 + 100);
    link.WaitMs(0);
    link.WaitMs(-7);
    EXPECT_EQ(clock.NowMs(), 86'399'990 + 100);
}

TEST(WaitMs, SleepsOnTheSteadyClock) {
    TComPort port(std::make_unique<ScriptedBackend>());
    TComPortClass link(port);
    auto start = std::chrono::steady_clock::now();
    link.WaitMs(40);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(40));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
}

}  // namespace
