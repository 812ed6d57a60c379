#include <gtest/gtest.h>

#include "support/ProtocolFixture.h"
#include "targets/RomMonitorConnection.h"

namespace {

class RomMonitorTest : public ProtocolFixture {
  protected:
    RomMonitorConnection monitor{context, speedcode::k19200};
};

TEST_F(RomMonitorTest, ConnectWakesTheMonitorAndEntersTheTestScreen) {
    // The first wake-up goes unanswered.
    link.Answer("\r\n", ">", 600, 1);
    link.Answer("T\r", ":test>", 3);
    const uint64_t start = clock.NowMs();
    ASSERT_TRUE(monitor.RomMonitorConnect());
    EXPECT_EQ(link.GetSpeed(), 6);
    const auto wakes = link.TimesOf("\r\n");
    ASSERT_EQ(wakes.size(), 2u);
    // A 500 ms window, then 50 characters' time at 19200.
    EXPECT_EQ(wakes[0], start);
    EXPECT_EQ(wakes[1] - wakes[0], 500u + 26u);
    EXPECT_TRUE(Logged("Baud rate - 19200"));
    EXPECT_TRUE(Logged("ROM Monitor entered to the test screen."));
    EXPECT_EQ(link.Waiting(), 0u);
}

TEST_F(RomMonitorTest, TestPromptRecogniser) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint64_t, std::string>> arrivals;
        bool found;
        // "T\r" commands the wait sends itself (every 200 ms).
        size_t repeats;
    };
    const std::vector<Case> cases = {
        {"split over reads", {{5, ":te"}, {25, "s"}, {47, "t>"}}, true, 0},
        {"after noise", {{5, "ok>\r\n:test>"}}, true, 0},
        {"idle prompt never matches", {{5, "test>"}}, false, 9},
        {"other text", {{5, ":tesX>"}}, false, 9},
        // The mismatch leaves the position at 5: the next prompt is collected behind it and
        // wraps, so only the prompt after the repeated "T\r" (at 200 ms) is seen.
        {"mismatch then prompt", {{5, ":abc>"}, {30, ":test>"}, {210, ":test>"}}, true, 1},
        {"mismatch wrapped", {{5, ":abcdefgh>"}, {30, ":test>"}}, true, 0},
    };
    for (const Case& c : cases) {
        ScriptedLink line(clock);
        context.SetLink(&line);
        const uint64_t start = clock.NowMs();
        for (const auto& [at, bytes] : c.arrivals) {
            line.Arrive(start + at, bytes);
        }
        RomMonitorConnection recogniser(context, speedcode::k19200);
        EXPECT_EQ(recogniser.RomMonitorWaitTestPrompt(), c.found) << c.name;
        EXPECT_EQ(line.TimesOf("T\r").size(), c.repeats) << c.name;
        EXPECT_EQ(clock.NowMs() - start >= 2000, !c.found) << c.name;
    }
    context.SetLink(&link);
    EXPECT_TRUE(Logged("ROM monitor timeout."));
}

TEST_F(RomMonitorTest, TestScreenNotEnteredIsReported) {
    EXPECT_FALSE(monitor.RomMonitorEnterTestScreen());
    const std::vector<std::string> expected = {"ROM monitor timeout.",
                                               "ERROR: Mask ROM TestScreen enter timeout."};
    EXPECT_EQ(AllLogs(), expected);
}

TEST_F(RomMonitorTest, EchoedCommand) {
    struct Case {
        const char* name;
        std::string echoed;  // what comes back for "G 1\r"
        bool ok;
        const char* logLine;
        std::string sent;
    };
    const std::vector<Case> cases = {
        {"echo", "G 1", true, nullptr, "G 1\r"},
        {"wrong answer", "G_", false, "ROM monitor wrong answer.", "G "},
        {"no echo", "G", false, "ROM monitor echo timeout.", "G "},
    };
    for (const Case& c : cases) {
        ScriptedLink line(clock);
        context.SetLink(&line);
        for (size_t i = 0; i < c.echoed.size(); ++i) {
            line.Answer(std::string(1, "G 1"[i]), std::string(1, c.echoed[i]), 2, 1);
        }
        RomMonitorConnection connection(context, speedcode::k19200);
        const Result sent = connection.RomMonitorSendEchoed("G 1\r");
        EXPECT_EQ(sent.ok(), c.ok) << c.name;
        EXPECT_EQ(line.SentText(), c.sent) << c.name;
        if (c.logLine != nullptr) {
            EXPECT_TRUE(Logged(c.logLine)) << c.name;
            EXPECT_EQ(sent.words(), c.logLine) << c.name;
        }
    }
    context.SetLink(&link);
}

TEST_F(RomMonitorTest, EchoTimeoutIsOneSecond) {
    const uint64_t start = clock.NowMs();
    EXPECT_FALSE(monitor.RomMonitorSendEchoed("P\r"));
    EXPECT_EQ(clock.NowMs() - start, 1000u);
}

TEST_F(RomMonitorTest, AbortWhileAwaitingAnEchoEndsTheCommand) {
    CancelAt(clock.NowMs() + 50);
    EXPECT_FALSE(monitor.RomMonitorSendEchoed("G 00201000\r"));
    EXPECT_EQ(link.SentText(), "G");
    EXPECT_TRUE(AllLogs().empty());
}

TEST_F(RomMonitorTest, WordsAreLittleEndianWithAPromptAfterEach) {
    link.EchoAll();
    link.Answer("\r", ":test>", 2);
    const uint8_t data[] = {0x18, 0xF0, 0x9F, 0xE5, 0x00, 0x00, 0xA0, 0xE3};
    RomMonitorConnection::Progress progress{8, 0, 0};
    WatchProgress();
    ASSERT_TRUE(monitor.RomMonitorWriteWords(0x201000, data, sizeof data, progress));
    EXPECT_EQ(link.SentText(), "P 00201000 E59FF018\rP 00201004 E3A00000\r");
    EXPECT_EQ(progressSeen, (std::vector<uint16_t>{500, 1000}));
    EXPECT_TRUE(Logged("Record write succesfull (A=0x00201000,SZ=0x0008)"));
}

TEST_F(RomMonitorTest, ShortLastWordIsFilledWithZeroBytes) {
    link.EchoAll();
    link.Answer("\r", ":test>", 2);
    // The bytes after the data must not leak into the word.
    const uint8_t data[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xAA, 0xBB};
    RomMonitorConnection::Progress progress{6, 0, 0};
    ASSERT_TRUE(monitor.RomMonitorWriteWords(0x100, data, 6, progress));
    EXPECT_EQ(link.SentText(), "P 00000100 44332211\rP 00000104 00006655\r");
    EXPECT_EQ(progress.last, 1000);
    EXPECT_TRUE(Logged("Record write succesfull (A=0x00000100,SZ=0x0006)"));
}

TEST_F(RomMonitorTest, MissingPromptAfterAWordFailsTheRecord) {
    link.EchoAll();
    const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7, 8};
    RomMonitorConnection::Progress progress{8, 0, 0};
    EXPECT_FALSE(monitor.RomMonitorWriteWords(0x100, data, 8, progress));
    EXPECT_EQ(link.TimesOf("P ").size(), 1u);
    EXPECT_TRUE(Logged("ROM monitor timeout."));
}

TEST_F(RomMonitorTest, RunCommandIsEchoedButItsCarriageReturnIsNotAwaited) {
    link.EchoAll();
    ASSERT_TRUE(monitor.RomMonitorRunAt(0x201000));
    EXPECT_EQ(link.SentText(), "G 00201000\r");
    EXPECT_TRUE(Logged("Run image at address 0x201000"));
}

}  // namespace

namespace {

// A port whose purge drops what the writer thread has not yet taken: everything written since
// the last TransmitDone that said the line was idle.
class QueueDroppingLink : public ScriptedLink {
  public:
    using ScriptedLink::ScriptedLink;
    bool WriteByte(int byte) override {
        ++queued;
        return ScriptedLink::WriteByte(byte);
    }
    uint32_t TransmitDone() override {
        queued = 0;
        return 1;
    }
    void Purge() override {
        dropped += queued;
        queued = 0;
        ScriptedLink::Purge();
    }
    int queued = 0;
    int dropped = 0;
};

TEST_F(RomMonitorTest, RunCommandLeavesThePortBeforeThePurge) {
    QueueDroppingLink line(clock);
    line.EchoAll();
    context.SetLink(&line);
    RomMonitorConnection runner(context, speedcode::k19200);
    EXPECT_TRUE(runner.RomMonitorRunAt(0x201000));
    EXPECT_EQ(line.SentText(), "G 00201000\r");
    EXPECT_EQ(line.dropped, 0);
    context.SetLink(&link);
}

}  // namespace
