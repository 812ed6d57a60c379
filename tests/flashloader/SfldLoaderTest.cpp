// Connect, version, parameter messages and the single-code waits on a virtual clock.
#include <gmock/gmock.h>

#include "flashloader/SfldCodes.h"
#include "support/ProtocolFixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace sfld;

namespace {

TEST_F(ProtocolFixture, ConnectDropsTheLeadingOkAndTakesSync) {
    link.onWrite = [this](const ScriptedLink::Bytes& chunk) {
        if (chunk[0] == SYNC_CODE) {
            link.After(3, {OK_CODE, SYNC_CODE});
        }
    };
    EXPECT_TRUE(loader.Connect());
    EXPECT_THAT(link.written, ElementsAre(OK_CODE, SYNC_CODE));
    EXPECT_EQ(context.statusText.Get(), "SFLD Connected");
    EXPECT_THAT(Logged(), ElementsAre("SFLD Connected"));
}

TEST_F(ProtocolFixture, ConnectGivesUpSilentlyAfterOneSecond) {
    // Sync arriving exactly when the second is up is too late.
    const uint64_t waitStart = link.TransmitTime(3) + 2 * link.TransmitTime(10);
    At(waitStart + 1000, {SYNC_CODE});
    At(waitStart + 10, {0x12, OK_CODE});
    EXPECT_FALSE(loader.Connect());
    EXPECT_EQ(Elapsed(), waitStart + 1000);
    EXPECT_THAT(Logged(), IsEmpty());
    EXPECT_EQ(context.statusText.Get(), "");
}

TEST_F(ProtocolFixture, FindLoaderTriesAgainUntilALoaderAnswersOrTenSecondsPass) {
    struct Case {
        int answeringAttempt;  // 0: none answers
        bool found;
    };
    for (const Case c : {Case{1, true}, Case{4, true}, Case{0, false}}) {
        VirtualClock time{1000};
        ScriptedLink line{time};
        TestContext looking{time, &line};
        SfldSession fresh;
        int attempts = 0;
        line.onWrite = [&](const ScriptedLink::Bytes& chunk) {
            if (chunk[0] == SYNC_CODE && ++attempts == c.answeringAttempt) {
                line.After(3, {SYNC_CODE});
            }
        };
        EXPECT_EQ(SfldLoader(looking, fresh).FindLoader(SfldLoader::kFindLoaderMs).ok(), c.found);
        // The device that answered is the request's from then on; until then it may come and go.
        const std::vector<bool> watches =
            c.found ? std::vector<bool>{false, true} : std::vector<bool>{false};
        EXPECT_EQ(looking.watchesSeen, watches);
        const uint64_t elapsed = time.NowMs() - 1000;
        if (c.found) {
            EXPECT_EQ(attempts, c.answeringAttempt);
            EXPECT_EQ(looking.statusText.Get(), "SFLD Connected");
        } else {
            // Back to back on a port that stays open: a connect wait an attempt, for about ten
            // seconds.
            EXPECT_GE(elapsed, SfldLoader::kFindLoaderMs);
            EXPECT_LT(elapsed, SfldLoader::kFindLoaderMs + 1100);
            EXPECT_GE(attempts, 9);
            EXPECT_LE(attempts, 10);
            EXPECT_EQ(looking.statusText.Get(), "ERROR: no answer from the flash loader");
            EXPECT_THAT(looking.TakeLog(), ElementsAre("ERROR: no answer from the flash loader"));
        }
    }
}

TEST_F(ProtocolFixture, VersionKeepsTheDollarAndDropsJunkAndLineEnd) {
    link.onWrite = [this](const ScriptedLink::Bytes& chunk) {
        if (chunk[0] == VERSION_CODE) {
            link.After(5, {'x', 0xFF, '\r', '$', 'V', '1', '.', '2', '\r', '\n', 'z'});
        }
    };
    session.sfldVersion = "stale";
    loader.ReadVersion();
    EXPECT_EQ(session.sfldVersion, "$V1.2");
    EXPECT_THAT(Logged(), ElementsAre("SFLD Version ID: $V1.2"));
    EXPECT_LT(Elapsed(), 100u);
}

TEST_F(ProtocolFixture, VersionPurgesStaleBytesAndLogsAPartialLineAtTheTimeOut) {
    At(0, {'$', 'o', 'l', 'd', '\n'});
    At(20, {'$', 'A', '$', 'B'});
    loader.ReadVersion();
    EXPECT_EQ(session.sfldVersion, "$A$B");
    EXPECT_THAT(Logged(), ElementsAre("SFLD Version ID: $A$B"));
    EXPECT_EQ(Elapsed(), 1000u);
}

TEST_F(ProtocolFixture, ParameterMessages) {
    struct Case {
        ScriptedLink::Bytes bytes;
        bool parameterOk;
        uint8_t value;
        bool skipOk;
    };
    const Case cases[] = {
        {{ERASE_CODE, 0x14}, true, 0x14, true},
        {{0x6B, 0x14}, false, 0, true},
        {{ERASE_CODE}, false, 0, false},
        {{}, false, 0, false},
    };
    for (const Case& c : cases) {
        for (bool skip : {false, true}) {
            SCOPED_TRACE(::testing::PrintToString(c.bytes) + (skip ? " skip" : " read"));
            const uint64_t start = clock.NowMs();
            link.At(start + 9999, c.bytes);
            uint8_t value = 0;
            const bool ok = skip ? loader.SkipMessage() : loader.ReadParameter(value);
            EXPECT_EQ(ok, skip ? c.skipOk : c.parameterOk);
            if (!skip) {
                EXPECT_EQ(value, c.value);
            }
            // Both bytes must come within ten seconds of the call.
            EXPECT_EQ(clock.NowMs() - start, c.skipOk ? 9999u : 10000u);
            link.Purge();
        }
    }
}

TEST_F(ProtocolFixture, WaitOkSkipsMessagesAndReportsProgramFail) {
    At(100, {0x33, PARAM_CODE, OK_CODE, 0x05, PROGRAM_FAIL, 0x12});
    At(900, {OK_CODE});
    EXPECT_TRUE(loader.WaitOk());
    EXPECT_EQ(Elapsed(), 900u);
    EXPECT_THAT(Logged(), ElementsAre("'PROGRAM_FAIL' msg received."));
}

TEST_F(ProtocolFixture, WaitOkTimesOutAfterOneSecond) {
    At(1000, {OK_CODE});
    EXPECT_FALSE(loader.WaitOk());
    EXPECT_EQ(Elapsed(), 1000u);
    EXPECT_THAT(Logged(), ElementsAre("'OK_CODE' waiting time out."));
}

TEST_F(ProtocolFixture, WaitRecWaitSkipsAMessageThatLooksLikeTheCode) {
    At(10, {PARAM_CODE, ERASE_CODE, REC_WAIT_CODE, 0x01});
    At(3999, {REC_WAIT_CODE});
    EXPECT_TRUE(loader.WaitRecWait());
    EXPECT_EQ(Elapsed(), 3999u);
    EXPECT_THAT(Logged(), IsEmpty());
}

TEST_F(ProtocolFixture, WaitRecWaitTimesOutAfterFourSecondsWithoutSpinning) {
    EXPECT_FALSE(loader.WaitRecWait());
    EXPECT_EQ(Elapsed(), 4000u);
    EXPECT_THAT(Logged(), ElementsAre("'REC_WAIT_CODE' waiting time out."));
    // The wait blocks on the link in slices; it does not poll in a loop.
    EXPECT_LE(link.readCalls, 4000 / 100 + 2);
}

TEST_F(ProtocolFixture, AWaitOnALinkThatCannotBlockStillSleeps) {
    link.blocking = false;
    EXPECT_FALSE(loader.WaitOk());
    EXPECT_EQ(Elapsed(), 1000u);
    EXPECT_LE(link.readCalls, 1000 / 10 + 2);
}

TEST_F(ProtocolFixture, EveryWaitEndsSilentlyOnAbort) {
    struct Op {
        const char* name;
        std::function<bool()> run;
    };
    uint8_t value = 0;
    std::string text;
    const Op ops[] = {
        {"Connect", [&] { return loader.Connect().ok(); }},
        {"WaitOk", [&] { return loader.WaitOk().ok(); }},
        {"WaitRecWait", [&] { return loader.WaitRecWait().ok(); }},
        {"ReadParameter", [&] { return loader.ReadParameter(value); }},
        {"SkipMessage", [&] { return loader.SkipMessage(); }},
        {"IdentifyFlash", [&] { return loader.IdentifyFlash(text).ok(); }},
        {"BootReload", [&] { return loader.BootReload().ok(); }},
        {"WaitErase", [&] { return loader.WaitErase().ok(); }},
        {"ReadVersion",
         [&] {
             loader.ReadVersion();
             return false;
         }},
    };
    for (const Op& op : ops) {
        SCOPED_TRACE(op.name);
        context.cancelRequest.Set(0);
        const uint64_t start = clock.NowMs();
        // Cancelled while the line stays quiet: seen within one slice of the wait.
        clock.SetAdvanceHook([&](uint64_t now) {
            if (now >= start + 150) {
                context.cancelRequest.Set(1);
            }
        });
        EXPECT_FALSE(op.run());
        EXPECT_LE(clock.NowMs() - start, 300u);
        EXPECT_THAT(Logged(), IsEmpty());
        clock.SetAdvanceHook(nullptr);
    }
}

}  // namespace
