// Greeting, primary flash loader, ROM monitor and text monitor, from their wire dialogues.
#include <gtest/gtest.h>

#include "tests/CaseName.h"
#include "tests/sim/Wire.h"

namespace {

constexpr uint32_t kLoad = 0x00201000;

DeviceConfig Starting(Personality personality) {
    DeviceConfig config;
    config.start = personality;
    return config;
}

// --- Greeting ---

TEST(Greeting, AnswersBothTokensAndReappearsAsTheFlashLoader) {
    Wire wire(Starting(Personality::Greeting));
    EXPECT_EQ(wire.speed, 6);
    const Bytes first = wire.SendText("SA-28\r\n");
    EXPECT_EQ(std::string(first.begin(), first.begin() + 5), "SA-77");
    EXPECT_EQ(first.back(), '\n');
    const Bytes second = wire.SendText("KV2-8\r\n");
    EXPECT_EQ(std::string(second.begin(), second.begin() + 5), "KV2-8");
    EXPECT_EQ(wire.model.Mode(), Personality::Away);
    wire.Wait(100);
    EXPECT_EQ(wire.model.Mode(), Personality::FlashLoader);
    EXPECT_EQ(wire.model.Counters().reappearances, 1u);
    EXPECT_EQ(wire.Send({0x55, 0xAA}), Bytes({0x77, 0xAA}));
    EXPECT_TRUE(wire.model.Violations().empty());
}

struct LineCase {
    const char* name;
    std::string line;
};

class GreetingRefuses : public testing::TestWithParam<LineCase> {};

TEST_P(GreetingRefuses, LinesOtherThanTheTwoTokens) {
    Wire wire(Starting(Personality::Greeting));
    EXPECT_EQ(wire.SendText(GetParam().line), Bytes());
    EXPECT_EQ(wire.model.Violations().size(), 1u);
    EXPECT_EQ(wire.model.Mode(), Personality::Greeting);
}

INSTANTIATE_TEST_SUITE_P(Tokens, GreetingRefuses,
                         testing::Values(LineCase{"noCarriageReturn", "SA-28\n"},
                                         LineCase{"lowerCase", "kv2-8\r\n"},
                                         LineCase{"loaderBytes", "\x55\xAA\n"}),
                         CaseName());

TEST(Greeting, BytesWhileTheDeviceReappearsAreViolations) {
    Wire wire(Starting(Personality::Greeting));
    wire.SendText("KV2-8\r\n");
    wire.Send({0x55});
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

// --- Primary flash loader ---

const Bytes kSpeedMessage = {0x24, 0x24, 0x00, 0x07, 0x0A, 0x00, 0x0D};

struct PflCase {
    const char* name;
    PflVariant variant;
    int32_t speed;
    Bytes probe;
};

class PflVariants : public testing::TestWithParam<PflCase> {};

TEST_P(PflVariants, LoadRunAndAnswerTheEndRecordAsTheStartedLoader) {
    const PflCase& c = GetParam();
    DeviceConfig config = Starting(Personality::PrimaryFlashLoader);
    config.pflVariant = c.variant;
    Wire wire(config);
    EXPECT_EQ(wire.speed, c.speed);
    EXPECT_EQ(wire.Send(c.probe), B("D"));
    EXPECT_EQ(wire.SendText("E"), B("$KALMER PFL 1.3\r\n"));
    EXPECT_EQ(wire.SendText("D"), Bytes());
    // The primary loader has no REC_WAIT_CODE of its own; the started flash loader has.
    EXPECT_EQ(wire.Send(Cat({0x55}, DataFrame(kLoad, {0x18, 0xF0, 0x9F, 0xE5, 0x01}))),
              Bytes({0x55}));
    EXPECT_EQ(wire.model.RamBytes(kLoad, 5), Bytes({0x18, 0xF0, 0x9F, 0xE5, 0x01}));
    EXPECT_EQ(wire.SendText("G201000#"), Bytes());
    EXPECT_EQ(wire.model.Mode(), Personality::FlashLoader);
    EXPECT_EQ(wire.model.SpeedCode(), c.speed);
    EXPECT_EQ(wire.Send(Cat({0x55}, EndFrame())), Bytes({0x77, 0x55}));
    EXPECT_TRUE(wire.model.Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(Handshakes, PflVariants,
                         testing::Values(PflCase{"A", PflVariant::A, 6, B("U")},
                                         PflCase{"B", PflVariant::B, 8, Cat(kSpeedMessage, B("U"))},
                                         PflCase{"C", PflVariant::C, 8, B("U")}),
                         CaseName());

TEST(PrimaryFlashLoader, VariantBDoesNotAnswerAProbeWithoutItsMessage) {
    DeviceConfig config = Starting(Personality::PrimaryFlashLoader);
    config.pflVariant = PflVariant::B;
    Wire wire(config);
    EXPECT_EQ(wire.SendText("U"), Bytes());
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

TEST(PrimaryFlashLoader, ProbeAtTheWrongSpeedIsNotAnswered) {
    DeviceConfig config = Starting(Personality::PrimaryFlashLoader);
    config.pflVariant = PflVariant::A;
    Wire wire(config);
    wire.speed = 8;
    EXPECT_EQ(wire.SendText("U"), Bytes());
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

struct RunCase {
    const char* name;
    std::string command;
    Personality after;
    size_t violations;
};

class PflRuns : public testing::TestWithParam<RunCase> {};

TEST_P(PflRuns, StartOnlyLoadedCodeWithAWellFormedCommand) {
    const RunCase& c = GetParam();
    Wire wire(Starting(Personality::PrimaryFlashLoader));
    wire.SendText("UED");
    wire.Send(Cat({0x55}, DataFrame(kLoad, {1, 2, 3, 4})));
    wire.Send(Cat({0x55}, DataFrame(0x300000, {1, 2, 3, 4})));
    wire.SendText(c.command);
    EXPECT_EQ(wire.model.Mode(), c.after);
    EXPECT_EQ(wire.model.Violations().size(), c.violations);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PflRuns,
    testing::Values(RunCase{"loader", "G201000#", Personality::FlashLoader, 0},
                    RunCase{"otherCode", "G300000#", Personality::Away, 0},
                    RunCase{"nothingLoaded", "G400000#", Personality::Away, 1},
                    RunCase{"leadingZero", "G0201000#", Personality::PrimaryFlashLoader, 1},
                    RunCase{"lowerCase", "G20100a#", Personality::PrimaryFlashLoader, 1}),
    CaseName());

TEST(PrimaryFlashLoader, EndRecordBeforeTheRunIsRefused) {
    for (bool recWait : {false, true}) {
        DeviceConfig config = Starting(Personality::PrimaryFlashLoader);
        config.pflRecWait = recWait;
        Wire wire(config);
        wire.SendText("UED");
        EXPECT_EQ(wire.Send(Cat({0x55}, EndFrame())),
                  recWait ? Bytes({0x77, 0x83}) : Bytes({0x83}));
        EXPECT_EQ(wire.model.Violations().size(), 1u);
    }
}

// --- ROM monitor ---

TEST(RomMonitor, TestScreenStoresWordsAndStartsTheLoader) {
    Wire wire(Starting(Personality::RomMonitor));
    EXPECT_EQ(wire.SendText("\r\n"), B(">"));
    EXPECT_EQ(wire.SendText("T\r"), B("T:test>"));
    EXPECT_EQ(wire.SendText("P 00201000 E59FF018\r"), B("P 00201000 E59FF018:test>"));
    EXPECT_EQ(wire.model.RamBytes(kLoad, 4), Bytes({0x18, 0xF0, 0x9F, 0xE5}));
    EXPECT_EQ(wire.SendText("T\r"), B("T:test>"));
    EXPECT_EQ(wire.SendText("G 00201000\r"), B("G 00201000"));
    EXPECT_EQ(wire.model.Mode(), Personality::FlashLoader);
    EXPECT_EQ(wire.model.SpeedCode(), 6);
    EXPECT_EQ(wire.model.Counters().wordsStored, 1u);
    EXPECT_TRUE(wire.model.Violations().empty());
}

class RomRefuses : public testing::TestWithParam<LineCase> {};

TEST_P(RomRefuses, MalformedCommandsOnTheTestScreen) {
    Wire wire(Starting(Personality::RomMonitor));
    wire.SendText("\r\nT\r");
    const Bytes answer = wire.SendText(GetParam().line);
    EXPECT_EQ(std::string(answer.end() - 6, answer.end()), ":test>");
    EXPECT_EQ(wire.model.Violations().size(), 1u);
    EXPECT_EQ(wire.model.Counters().wordsStored, 0u);
}

INSTANTIATE_TEST_SUITE_P(Commands, RomRefuses,
                         testing::Values(LineCase{"lowerCase", "P 00201000 e59ff018\r"},
                                         LineCase{"shortAddress", "P 201000 E59FF018\r"},
                                         LineCase{"noBlank", "P 00201000E59FF018\r"},
                                         LineCase{"unknown", "X\r"}),
                         CaseName());

TEST(RomMonitor, SleepsUntilCarriageReturnAndLineFeed) {
    Wire wire(Starting(Personality::RomMonitor));
    EXPECT_EQ(wire.SendText("T\r"), Bytes());
    EXPECT_FALSE(wire.model.Violations().empty());
}

// --- Text monitor ---

TEST(TextMonitor, EntersIdentifiesStoresWordsAndStartsTheLoader) {
    Wire wire(Starting(Personality::TextMonitor));
    EXPECT_EQ(wire.speed, 8);
    EXPECT_EQ(wire.SendText("$PASHQ,PRT\r\n"), B(">"));
    EXPECT_EQ(wire.SendText("$PASHS,MON\r\n#"), B(">"));
    EXPECT_EQ(wire.SendText("#V#"), B("OM21\r\n>"));
    EXPECT_EQ(wire.SendText("W201004,E3A00000#"), B(">"));
    EXPECT_EQ(wire.SendText("W201000,0#"), B(">"));
    EXPECT_EQ(wire.model.RamBytes(kLoad, 8), Bytes({0, 0, 0, 0, 0x00, 0x00, 0xA0, 0xE3}));
    EXPECT_EQ(wire.SendText("G201000#"), Bytes());
    EXPECT_EQ(wire.model.Mode(), Personality::FlashLoader);
    EXPECT_EQ(wire.model.SpeedCode(), 8);
    EXPECT_TRUE(wire.model.Violations().empty());
}

class MonitorRefuses : public testing::TestWithParam<LineCase> {};

TEST_P(MonitorRefuses, MalformedWrites) {
    Wire wire(Starting(Personality::TextMonitor));
    wire.SendText("$PASHQ,PRT\r\n$PASHS,MON\r\n#");
    EXPECT_EQ(wire.SendText(GetParam().line), B("?"));
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Commands, MonitorRefuses,
                         testing::Values(LineCase{"leadingZeroAddress", "W0201004,E3A00000#"},
                                         LineCase{"leadingZeroValue", "W201004,0E3A0000#"},
                                         LineCase{"lowerCase", "W201004,e3a00000#"},
                                         LineCase{"noComma", "W201004#"}),
                         CaseName());

TEST(TextMonitor, CommandsBeforeTheMonitorIsEnteredAreViolations) {
    Wire wire(Starting(Personality::TextMonitor));
    EXPECT_EQ(wire.SendText("#V#"), Bytes());
    EXPECT_EQ(wire.model.Violations().size(), 3u);
}

}  // namespace
