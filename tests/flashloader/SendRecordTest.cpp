// One record exchange and the ten-second retry around it.
#include <gmock/gmock.h>

#include "flashloader/SfldCodes.h"
#include "support/ProtocolFixture.h"

using imagefiles::kMainStart;
using ::testing::Each;
using ::testing::ElementsAre;
using namespace sfld;

namespace {

class RecordTest : public ProtocolFixture {
  protected:
    void SetUp() override {
        const uint8_t data[] = {0xDE, 0xAD, 0xBE};
        record.Begin();
        record.Append(kMainStart, 3, data);
        record.Finish();
    }
    // The loader answers every complete frame with `answer`, `delayMs` after it.
    void AnswerFrames(const ScriptedLink::Bytes& answer, uint64_t delayMs = 20) {
        link.onWrite = [this, answer, delayMs](const ScriptedLink::Bytes& chunk) {
            if (chunk.size() > 1) {
                ++frames;
                frameTimes.push_back(clock.NowMs() - 1000);
                link.After(delayMs, answer);
            }
        };
    }
    ScriptedLink::Bytes Sent() const {
        ScriptedLink::Bytes bytes = {OK_CODE};
        bytes.insert(bytes.end(), record.Frame(), record.Frame() + record.length);
        return bytes;
    }
    SfldRecord record;
    int frames = 0;
    std::vector<uint64_t> frameTimes;
};

TEST_F(RecordTest, AnOkAfterTheFrameIsLogged) {
    AnswerFrames({0x13, OK_CODE});
    EXPECT_TRUE(loader.SendRecordOnce(record));
    EXPECT_EQ(link.written, Sent());
    // Three data bytes and the pad byte after the 4-byte address.
    EXPECT_THAT(Logged(), ElementsAre("Record write succesfull (A=0x10004000,SZ=0x0008)."));
}

TEST_F(RecordTest, ErrorCodesFailTheAttempt) {
    const std::pair<uint8_t, const char*> cases[] = {
        {BAD_CSUM, "ERROR: BAD_CSUM"},       {BAD_LENGTH, "ERROR: BAD_LENGTH"},
        {BAD_COMMAND, "ERROR: BAD_COMMAND"}, {RECORD_TIMEOUT, "ERROR: RECORD_TIMEOUT"},
        {NO_REC_END, "ERROR: NO_REC_END"},
    };
    for (const auto& [code, line] : cases) {
        SCOPED_TRACE(line);
        AnswerFrames({code, OK_CODE});
        EXPECT_EQ(loader.SendRecordOnce(record).words(), line);
        EXPECT_THAT(Logged(), ElementsAre(line));
        link.Purge();
    }
}

TEST_F(RecordTest, AParameterMessageIsConsumedWhole) {
    // Its value byte looks like an error code and must not be taken for one.
    AnswerFrames({PARAM_CODE, ERASE_CODE, BAD_CSUM, OK_CODE});
    EXPECT_TRUE(loader.SendRecordOnce(record));
}

TEST_F(RecordTest, NoAnswerTimesOutAfterFiveSeconds) {
    AnswerFrames({});
    EXPECT_EQ(loader.SendRecordOnce(record).code(), Result::Code::NoAnswer);
    EXPECT_EQ(Elapsed(), 5000u);
    EXPECT_THAT(Logged(), ElementsAre("ERROR: Record asknowledge TIMEOUT."));
}

TEST_F(RecordTest, TheAnswerIsTakenWhenItComesWithoutPolling) {
    AnswerFrames({OK_CODE}, 95);
    EXPECT_TRUE(loader.SendRecordOnce(record));
    EXPECT_EQ(Elapsed(), 95u);
    // Passes of at most 10 ms that block on the link.
    EXPECT_LE(link.readCalls, 95 / 10 + 2);
}

TEST_F(RecordTest, TheTransmitterIsWaitedForWithoutSpinning) {
    link.transmitBusyPolls = 40;
    AnswerFrames({OK_CODE}, 500);
    EXPECT_TRUE(loader.SendRecordOnce(record));
    EXPECT_EQ(link.transmitPolls, 41);
    // Every busy poll waited its millisecond.
    EXPECT_EQ(link.transmitDoneAt - 1000, 40u);
    EXPECT_EQ(Elapsed(), 500u);
}

TEST_F(RecordTest, AnAnswerEndsTheWaitForTheTransmitter) {
    // A driver that keeps reporting queued bytes although the loader has answered.
    link.transmitBusyPolls = 1000000;
    AnswerFrames({OK_CODE}, 30);
    EXPECT_TRUE(loader.SendRecordOnce(record));
    EXPECT_EQ(Elapsed(), 30u);
}

TEST_F(RecordTest, BadChecksumIsRetriedWholeUntilTenSeconds) {
    AnswerFrames({BAD_CSUM}, 50);
    // The reason is the time-out, with the refusal that ran it out.
    EXPECT_EQ(loader.SendRecord(record).words(), "ERROR: Send Record TIMEOUT.\nERROR: BAD_CSUM");
    const auto lines = Logged();
    EXPECT_EQ(lines.back(), "ERROR: Send Record TIMEOUT.");
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.end() - 1), Each("ERROR: BAD_CSUM"));
    // Each attempt takes 50 ms and a 10 ms pass at most; the last starts before 10 s are up.
    EXPECT_GE(frames, 10000 / 60);
    EXPECT_LT(frameTimes.back(), 10000u);
    EXPECT_GE(Elapsed(), 10000u);
    EXPECT_LT(Elapsed(), 10100u);
    // The lead byte goes out again with every frame.
    ScriptedLink::Bytes expected;
    for (int i = 0; i < frames; ++i) {
        const auto one = Sent();
        expected.insert(expected.end(), one.begin(), one.end());
    }
    EXPECT_EQ(link.written, expected);
}

TEST_F(RecordTest, RecordWaitModeWithoutTheCodeGivesUpAtTwelveSeconds) {
    session.RecordWaitMode = true;
    EXPECT_FALSE(loader.SendRecord(record));
    // Only lead bytes: no frame goes out without REC_WAIT_CODE.
    EXPECT_THAT(link.written, ElementsAre(OK_CODE, OK_CODE, OK_CODE));
    std::vector<uint64_t> attempts;
    for (uint64_t at : link.writeTimes) {
        attempts.push_back(at - 1000);
    }
    EXPECT_THAT(attempts, ElementsAre(0, 4000, 8000));
    EXPECT_EQ(Elapsed(), 12000u);
    EXPECT_THAT(
        Logged(),
        ElementsAre("'REC_WAIT_CODE' waiting time out.", "'REC_WAIT_CODE' waiting time out.",
                    "'REC_WAIT_CODE' waiting time out.", "ERROR: Send Record TIMEOUT."));
}

TEST_F(RecordTest, AbortStopsTheRetrySilently) {
    AnswerFrames({BAD_CSUM}, 50);
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now >= 1000 + 300) {
            context.cancelRequest.Set(1);
        }
    });
    EXPECT_EQ(loader.SendRecord(record).code(), Result::Code::Aborted);
    EXPECT_LT(Elapsed(), 400u);
    EXPECT_THAT(Logged(), Each("ERROR: BAD_CSUM"));
}

}  // namespace
