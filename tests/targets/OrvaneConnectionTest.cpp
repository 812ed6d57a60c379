#include <gtest/gtest.h>

#include "support/ProtocolFixture.h"
#include "targets/OrvaneConnection.h"

namespace {

using Variant = OrvaneConnection::Variant;

class OrvaneTest : public ProtocolFixture {
  protected:
    OrvaneConnection kalmer{context, Variant::OnKalmer, speedcode::k57600};
};

const std::string kAttempt = "$PASHQ,PRT\r\n$PASHS,MON\r\n#";

TEST_F(OrvaneTest, IdentificationReplies) {
    struct Case {
        const char* reply;
        bool ok;
        const char* id;
    };
    const std::vector<Case> cases = {
        {">ID12\r\n>", true, "ID12"},
        {"ID12\r\n>", true, "ID12"},
        {">ID12", false, nullptr},
        {"ID12\r\n", false, nullptr},
        {"", false, nullptr},
        {">\r\n>", true, ""},
        {"old>prompt>ID7\r\n>", true, "ID7"},
        {">\n>", false, nullptr},
    };
    for (const Case& c : cases) {
        ScriptedLink line(clock);
        context.SetLink(&line);
        line.Arrive(clock.NowMs(), "stale");
        line.Answer("#V#", c.reply, 1);
        OrvaneConnection mask(context, Variant::MaskRom, speedcode::k57600);
        EXPECT_EQ(mask.OrvaneQueryId().ok(), c.ok) << c.reply;
        EXPECT_EQ(line.SentText(), "#V#");
        EXPECT_EQ(line.purges, 1);
        if (c.ok) {
            EXPECT_EQ(AllLogs().back(), std::string("Orvane(Mask ROM) Monitor ID - ") + c.id);
        }
    }
    context.SetLink(&link);
}

TEST_F(OrvaneTest, ConnectRepeatsUntilAWellFormedIdentification) {
    link.Answer(kAttempt, ">", 40, 1);
    // The first reply lacks its CR LF '>'; the second attempt gets a good one.
    link.Answer("#V#", ">ID12", 1, 1);
    link.Answer(kAttempt + "#V#" + kAttempt + "#V#", ">ID12\r\n>", 1);
    const uint64_t start = clock.NowMs();
    ASSERT_TRUE(kalmer.OrvaneConnect());
    EXPECT_EQ(link.SentText(), kAttempt + "#V#" + kAttempt + "#V#");
    EXPECT_TRUE(Logged("Baud rate - 57600"));
    EXPECT_TRUE(Logged("Orvane(On Kalmer) Monitor ID - ID12"));
    const auto queries = link.TimesOf("#V#");
    ASSERT_EQ(queries.size(), 2u);
    // The prompt ends the first window at the slice that reads it; 50 characters then take
    // 9 ms at 57600.
    EXPECT_EQ(queries[0] - start, 40u + 9u);
    // No prompt the second time: the whole 500 ms window runs.
    const auto attempts = link.TimesOf("$PASHQ");
    EXPECT_EQ(queries[1] - attempts[1], 500u + 9u);
}

TEST_F(OrvaneTest, SilentMonitorIsAskedUntilCancelled) {
    CancelAt(clock.NowMs() + 2000);
    EXPECT_FALSE(kalmer.OrvaneConnect());
    EXPECT_EQ(link.TimesOf("$PASHQ").size(), 4u);
    EXPECT_FALSE(Logged("ERROR: communication(timeout)"));
    EXPECT_FALSE(Logged("ERROR: monitor connect timeout"));
}

TEST_F(OrvaneTest, SilentMonitorIsGivenUpAfterThirtySeconds) {
    const uint64_t start = clock.NowMs();
    EXPECT_FALSE(kalmer.OrvaneConnect());
    EXPECT_GE(clock.NowMs() - start, 30000u);
    EXPECT_LT(clock.NowMs() - start, 31000u);
    EXPECT_EQ(context.statusText.Get(), "ERROR: monitor connect timeout");
    EXPECT_EQ(AllLogs().back(), "ERROR: monitor connect timeout");
}

TEST_F(OrvaneTest, WordsAreWrittenAsHexWithoutLeadingZeros) {
    link.Answer("#", ">", 1);
    const uint8_t data[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xE3, 0x18, 0xF0, 0x9F};
    OrvaneConnection::Tracker tracker{12, 0, 0};
    WatchProgress();
    ASSERT_TRUE(kalmer.OrvaneWriteWords(0x201000, data, sizeof data, tracker));
    // The short last word takes zero bytes above its data.
    EXPECT_EQ(link.SentText(), "W201000,0#W201004,E3A00000#W201008,9FF018#");
    EXPECT_EQ(progressSeen, (std::vector<uint16_t>{333, 667, 1000}));
    EXPECT_TRUE(Logged("Record write succesfull (A=0x00201000,SZ=0x000B)"));
}

TEST_F(OrvaneTest, WordAnswerFailures) {
    struct Case {
        const char* answer;
        const char* status;
        const char* logLine;
    };
    const std::vector<Case> cases = {
        {"?", "ERROR: communication error", "ERROR: communication(expected '>' absent)"},
        {"", "ERROR: communication(timeout)", "ERROR: communication(timeout)"},
    };
    for (const Case& c : cases) {
        ScriptedLink line(clock);
        context.SetLink(&line);
        line.Answer("#", c.answer, 3);
        const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7, 8};
        OrvaneConnection::Tracker tracker{8, 0, 0};
        OrvaneConnection connection(context, Variant::OnKalmer, speedcode::k57600);
        const uint64_t start = clock.NowMs();
        EXPECT_FALSE(connection.OrvaneWriteWords(0x10, data, sizeof data, tracker));
        EXPECT_EQ(line.SentText(), "W10,4030201#");
        EXPECT_EQ(context.statusText.Get(), c.status);
        EXPECT_EQ(AllLogs().back(), c.logLine);
        EXPECT_EQ(clock.NowMs() - start, *c.answer != '\0' ? 3u : 1000u);
    }
    context.SetLink(&link);
}

}  // namespace
