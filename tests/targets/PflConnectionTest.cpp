#include <gtest/gtest.h>

#include "support/ProtocolFixture.h"
#include "targets/PflConnection.h"

namespace {

using Variant = PflConnection::Variant;

class PflConnectTest : public ProtocolFixture {
  protected:
    // The connection of that variant at the speed its target types run it.
    PflConnection Pfl(Variant variant) {
        return PflConnection(context, variant,
                             variant == Variant::A ? speedcode::k19200 : speedcode::k57600);
    }
    PflConnection pfl = Pfl(Variant::C);
};

struct WindowCase {
    Variant variant;
    int32_t speed;
    const char* baudLine;
    // From the 'U' that is answered to the version query 'E'.
    uint64_t answerToQueryMs;
};

class PflWindowTest : public PflConnectTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(PflWindowTest, FirstProbeAnsweredConnectsAfterTheVariantsWindow) {
    const WindowCase& c = GetParam();
    link.Answer("U", "D", 1, 1);
    link.Answer("E", "junk$V1.0\r\n", 2);
    PflConnection connection = Pfl(c.variant);
    ASSERT_TRUE(connection.PflConnect());

    EXPECT_EQ(link.GetSpeed(), c.speed);
    EXPECT_TRUE(Logged(c.baudLine));
    const auto probes = link.TimesOf("U");
    const auto queries = link.TimesOf("E");
    ASSERT_EQ(probes.size(), 1u);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0] - probes[0], c.answerToQueryMs);
    // The connection step ends with the host's 'D'.
    EXPECT_EQ(link.SentText().back(), 'D');
    EXPECT_EQ(connection.PfldVersion(), "$V1.0");
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PflWindowTest,
    ::testing::Values(
        // A: 3 ms for the probe to leave at 19200, then the whole 250 ms window.
        WindowCase{Variant::A, 6, "Baud rate - 19200", 3 + 250},
        // B and C: 1 ms at 57600, then the first 10 ms slice sees the answer.
        WindowCase{Variant::B, 8, "Baud rate - 57600", 1 + 10},
        WindowCase{Variant::C, 8, "Baud rate - 57600", 1 + 10}),
    [](const auto& info) { return std::string(1, "ABC"[static_cast<int>(info.param.variant)]); });

TEST_F(PflConnectTest, SilentTargetIsProbedEveryWindowUntilCancelled) {
    struct Case {
        Variant variant;
        std::string cycle;
        uint64_t periodMs;
        int speedSetsPerCycle;
    };
    const std::string message("\x24\x24\x00\x07\x0A\x00\x0D", 7);
    for (const Case& c : {Case{Variant::A, "U", 253, 0}, Case{Variant::B, message + "U", 254, 2},
                          Case{Variant::C, "U", 251, 0}}) {
        ScriptedLink silent(clock);
        context.SetLink(&silent);
        context.cancelRequest.Set(0);
        CancelAt(clock.NowMs() + 1000);
        EXPECT_FALSE(Pfl(c.variant).PflConnect());
        clock.SetAdvanceHook(nullptr);

        const std::string sent = silent.SentText();
        ASSERT_GE(sent.size(), c.cycle.size() * 3);
        ASSERT_EQ(sent.size() % c.cycle.size(), 0u);
        for (size_t at = 0; at < sent.size(); at += c.cycle.size()) {
            EXPECT_EQ(sent.substr(at, c.cycle.size()), c.cycle);
        }
        const auto probes = silent.TimesOf("U");
        for (size_t i = 1; i < probes.size(); ++i) {
            EXPECT_EQ(probes[i] - probes[i - 1], c.periodMs);
        }
        // Once for the line, then B sets its speed again before the message and the probe.
        EXPECT_EQ(silent.speedSets, 1 + c.speedSetsPerCycle * static_cast<int>(probes.size()));
    }
    context.SetLink(&link);
}

TEST_F(PflConnectTest, VariantANeedsTheWindowsLastByteToBeTheAnswer) {
    // First window: 'D' and then noise. Second window: 'D' alone.
    link.Answer("U", "D", 1, 2);
    const uint64_t start = clock.NowMs();
    link.Arrive(start + 100, "x");
    link.Answer("E", "$A\r", 1);
    ASSERT_TRUE(Pfl(Variant::A).PflConnect());
    EXPECT_EQ(link.TimesOf("U").size(), 2u);
}

TEST_F(PflConnectTest, VariantCDrainsAtMost1001FurtherBytesASlice) {
    struct Case {
        size_t junk;
        uint64_t answerToQueryMs;
    };
    // 1 byte read and 1 001 drained: a 'D' as byte 1 002 is seen in the first slice, as byte
    // 1 003 only in the second.
    for (const Case& c : {Case{1001, 11}, Case{1002, 21}}) {
        ScriptedLink line(clock);
        context.SetLink(&line);
        line.Answer("U", std::string(c.junk, 'x') + "D", 1, 1);
        line.Answer("E", "$C\n", 1);
        ASSERT_TRUE(Pfl(Variant::C).PflConnect());
        EXPECT_EQ(line.TimesOf("E")[0] - line.TimesOf("U")[0], c.answerToQueryMs) << c.junk;
    }
    context.SetLink(&link);
}

TEST_F(PflConnectTest, VersionLineKeepsItsDollarsAndDropsJunkAndLineEnd) {
    link.Answer("E", "\x55\x01zz$V2.3$b\rtail", 5, 1);
    ASSERT_TRUE(pfl.PflReadVersion());
    EXPECT_EQ(pfl.PfldVersion(), "$V2.3$b");
    EXPECT_TRUE(Logged("PFLD Version ID: $V2.3$b"));
    EXPECT_EQ(link.purges, 1);
    // A second query starts a new text.
    link.Answer("E", "$V2.4\r", 5);
    ASSERT_TRUE(pfl.PflReadVersion());
    EXPECT_EQ(pfl.PfldVersion(), "$V2.4");
}

TEST_F(PflConnectTest, VersionWithoutLineEndWithinASecondFailsSilently) {
    link.Answer("E", "$V2.3", 5);
    link.Arrive(clock.NowMs() + 1001, "\r");
    const uint64_t start = clock.NowMs();
    EXPECT_FALSE(pfl.PflReadVersion());
    EXPECT_EQ(clock.NowMs() - start, 1000u);
    EXPECT_TRUE(AllLogs().empty());
}

TEST_F(PflConnectTest, NoVersionLineFailsTheConnection) {
    link.Answer("U", "D", 1);
    EXPECT_FALSE(Pfl(Variant::B).PflConnect());
    // The host's closing 'D' is not sent.
    EXPECT_EQ(link.SentText().back(), 'E');
}

TEST_F(PflConnectTest, RunCommandIsGAddressHash) {
    EXPECT_TRUE(pfl.PflRunAt(0x10000000));
    EXPECT_TRUE(pfl.PflRunAt(0x201000));
    EXPECT_EQ(link.SentText(), "G10000000#G201000#");
    EXPECT_TRUE(Logged("Run image at address 0x10000000"));
    EXPECT_TRUE(Logged("Run image at address 0x201000"));
}

TEST_F(PflConnectTest, AbortBeforeTheHandshakeSendsOnlyTheVersionQuery) {
    context.cancelRequest.Set(1);
    EXPECT_FALSE(pfl.PflConnect());
    EXPECT_EQ(link.SentText(), "E");
}

}  // namespace
