// The flash loader as the host's dialogue sees it: command bytes, records, erasing,
// programming, and the answer codes.
#include <gtest/gtest.h>

#include "tests/CaseName.h"
#include "tests/sim/Wire.h"

namespace {

constexpr uint32_t kBase = 0x10000000;

DeviceConfig Loader() {
    DeviceConfig config;
    config.start = Personality::FlashLoader;
    return config;
}

Bytes Connected(Wire& wire) {
    return wire.Send({0x55, 0xAA});
}

struct CommandCase {
    const char* name;
    void (*configure)(DeviceConfig&);
    Bytes sent;
    Bytes answer;
    bool violation;
};

class LoaderCommands : public testing::TestWithParam<CommandCase> {};

TEST_P(LoaderCommands, AnswerAsTheDialogueSays) {
    const CommandCase& c = GetParam();
    DeviceConfig config = Loader();
    c.configure(config);
    Wire wire(config);
    Connected(wire);
    EXPECT_EQ(wire.Send(c.sent), c.answer);
    EXPECT_EQ(!wire.model.Violations().empty(), c.violation);
}

void Same(DeviceConfig&) {}

INSTANTIATE_TEST_SUITE_P(
    Sfld, LoaderCommands,
    testing::Values(
        CommandCase{"version", Same, {0x90}, B("$SFLD V2.05\r\n"), false},
        CommandCase{"flashIdFull", Same, {0x91}, {0x91, 1, 0x01, 0x22, 0x49, 0, 0x20, 0, 0}, false},
        CommandCase{"flashIdOtherChip",
                    [](DeviceConfig& c) {
                        c.chip.cfi = 0;
                        c.chip.manufacturer = 0xBF;
                        c.chip.deviceId = 0x2780;
                        c.chip.size = 0x80000;
                        c.chip.sectors.clear();
                        c.chip.sectorSize = 0x1000;
                    },
                    {0x91},
                    {0x91, 0, 0xBF, 0x27, 0x80, 0, 0x08, 0, 0},
                    false},
        CommandCase{"flashIdShort",
                    [](DeviceConfig& c) {
                        c.flashId = FlashIdAnswer::Short;
                        c.shortFlashId = 0x0C;
                    },
                    {0x91},
                    {0x91, 0x0C},
                    false},
        CommandCase{"flashIdSilent",
                    [](DeviceConfig& c) { c.flashId = FlashIdAnswer::Silent; },
                    {0x91},
                    {},
                    false},
        CommandCase{"bootReloadAccepted", Same, {0x07}, {0x07}, false},
        CommandCase{"bootReloadRefused",
                    [](DeviceConfig& c) { c.bootReload = BootReloadAnswer::Refuse; },
                    {0x07},
                    {0x83},
                    false},
        CommandCase{"bootReloadSilent",
                    [](DeviceConfig& c) { c.bootReload = BootReloadAnswer::Silent; },
                    {0x07},
                    {},
                    false},
        CommandCase{"sectionStart", Same, {0x55}, {0x55}, false},
        CommandCase{"eraseAfterSectionStart", Same, {0x55, 0x6A}, {0x55, 0x55, 0x77}, false},
        CommandCase{"eraseWithoutSectionStart", Same, {0x6A}, {0x83}, true},
        CommandCase{"unknownCommand", Same, {0x12}, {0x83}, true},
        CommandCase{"reconnect", Same, {0x55, 0xAA}, {0x55, 0xAA}, false}),
    CaseName());

TEST(FlashLoader, ConnectIsAnsweredWithSync) {
    Wire wire(Loader());
    // The lead byte of a record and the connect byte are the same: REC_WAIT may come first.
    EXPECT_EQ(Connected(wire), Bytes({0x77, 0xAA}));
    EXPECT_EQ(wire.model.Counters().connects, 1u);
    EXPECT_TRUE(wire.model.Violations().empty());
}

TEST(FlashLoader, CommandsBeforeTheConnectAreIgnoredAndLogged) {
    Wire wire(Loader());
    EXPECT_EQ(wire.Send({0x90}), Bytes());
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

TEST(FlashLoader, EraseSendsParameterThenOneCodePerSectorOnItsTimeThenOk) {
    DeviceConfig config = Loader();
    config.faults.eraseMsPerSector = 100;
    Wire wire(config);
    Connected(wire);
    wire.Send({0x55, 0x6A});
    EXPECT_EQ(wire.Send({0x55}), Bytes({0x77}));
    // 0x10000000 to 0x10006000 touches the 16 KiB and the first 8 KiB boot sector.
    EXPECT_EQ(wire.Send(EraseFrame(kBase, kBase + 0x6000)), Bytes({0x55, 0x8E, 0x6A, 2}));
    EXPECT_EQ(wire.Wait(98), Bytes());
    EXPECT_EQ(wire.Wait(2), Bytes({0x8F}));
    EXPECT_EQ(wire.Wait(99), Bytes());
    EXPECT_EQ(wire.Wait(1), Bytes({0x8F, 0x55}));
    EXPECT_EQ(wire.model.Counters().sectorsErased, 2u);
    EXPECT_EQ(wire.model.Counters().eraseRanges, 1u);
    EXPECT_TRUE(wire.model.Violations().empty());
}

TEST(FlashLoader, WithoutTheParameterSwitchNoParameterMessage) {
    DeviceConfig config = Loader();
    config.faults.noParameter = true;
    Wire wire(config);
    Connected(wire);
    wire.Send({0x55, 0x6A, 0x55});
    EXPECT_EQ(wire.Send(EraseFrame(kBase, kBase + 0x4000)), Bytes({0x55}));
    EXPECT_EQ(wire.Wait(1000), Bytes({0x8F, 0x55}));
}

TEST(FlashLoader, SectionIsProgrammedRecordByRecordAndEndsWithTheEndRecord) {
    Wire wire(Loader());
    wire.OpenSection(kBase + 0x4000, kBase + 0x4008);
    EXPECT_EQ(wire.Send({0x55}), Bytes({0x77}));
    EXPECT_EQ(wire.Send(DataFrame(kBase + 0x4000, {1, 2, 3, 4})), Bytes({0x55}));
    EXPECT_EQ(wire.Wait(10), Bytes({0x55}));
    EXPECT_EQ(wire.Send(Cat({0x55}, DataFrame(kBase + 0x4004, {5, 6, 7, 8}))), Bytes({0x77, 0x55}));
    EXPECT_EQ(wire.Wait(10), Bytes({0x55}));
    EXPECT_EQ(wire.Send(Cat({0x55}, EndFrame())), Bytes({0x77, 0x55}));
    EXPECT_EQ(wire.model.FlashBytes(kBase + 0x3FFF, 10),
              Bytes({0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF}));
    EXPECT_EQ(wire.model.Counters().recordsProgrammed, 2u);
    EXPECT_TRUE(wire.model.Violations().empty());
    // The loader is back at its commands: a second section starts.
    EXPECT_EQ(wire.Send({0x55}), Bytes({0x55}));
}

TEST(FlashLoader, WithoutRecordWaitNoWaitCodeAfterTheLeadByte) {
    DeviceConfig config = Loader();
    config.recWait = false;
    Wire wire(config);
    wire.OpenSection(kBase, kBase + 2);
    EXPECT_EQ(wire.Send(Cat({0x55}, DataFrame(kBase, {0xAB, 0xCD}))), Bytes({0x55}));
}

TEST(FlashLoader, TheEraseReallyClearsTheSectorsItReports) {
    Wire wire(Loader());
    wire.OpenSection(kBase, kBase + 4);
    wire.Send(Cat({0x55}, DataFrame(kBase, {0, 0, 0, 0})));
    wire.Wait(10);
    wire.Send(Cat({0x55}, EndFrame()));
    wire.OpenSection(kBase, kBase + 4);
    EXPECT_EQ(wire.model.FlashBytes(kBase, 4), Bytes(4, 0xFF));
    EXPECT_TRUE(wire.model.Violations().empty());
}

TEST(FlashLoader, ProgrammingOverUnerasedBytesFailsAndIsCounted) {
    Wire wire(Loader());
    wire.OpenSection(kBase, kBase + 4);
    wire.Send(Cat({0x55}, DataFrame(kBase, {0xF0, 0xF0, 0xFF, 0xFF})));
    EXPECT_EQ(wire.Wait(10), Bytes({0x55}));
    EXPECT_EQ(wire.Send(Cat({0x55}, DataFrame(kBase, {0x0F, 0xF0, 0x12, 0xFF}))),
              Bytes({0x77, 0x55}));
    EXPECT_EQ(wire.Wait(10), Bytes({0x84}));
    // NOR only clears bits: the first byte ends as the AND of both writes.
    EXPECT_EQ(wire.model.FlashBytes(kBase, 4), Bytes({0x00, 0xF0, 0x12, 0xFF}));
    EXPECT_EQ(wire.model.Counters().unerasedPrograms, 1u);
    EXPECT_EQ(wire.model.Counters().unerasedBytes, 2u);
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

TEST(FlashLoader, WritingOutsideTheErasedRangeIsAViolation) {
    Wire wire(Loader());
    wire.OpenSection(kBase, kBase + 4);
    wire.Send(Cat({0x55}, DataFrame(kBase + 2, {1, 2, 3, 4})));
    EXPECT_EQ(wire.Wait(10), Bytes({0x55}));
    ASSERT_EQ(wire.model.Violations().size(), 1u);
    EXPECT_NE(wire.model.Violations()[0].find("erased range"), std::string::npos);
}

TEST(FlashLoader, ThePadByteOfAnOddRecordAtTheRangeEndIsNotWritten) {
    Wire wire(Loader());
    wire.OpenSection(kBase, kBase + 3);
    wire.Send(Cat({0x55}, DataFrame(kBase, {1, 2, 3})));
    EXPECT_EQ(wire.Wait(10), Bytes({0x55}));
    EXPECT_EQ(wire.model.FlashBytes(kBase, 4), Bytes({1, 2, 3, 0xFF}));
    EXPECT_TRUE(wire.model.Violations().empty());
}

TEST(FlashLoader, RecordBeyondTheChipFailsToProgram) {
    Wire wire(Loader());
    wire.OpenSection(kBase, kBase + 4);
    wire.Send(Cat({0x55}, DataFrame(kBase + 0x200000, {1, 2})));
    EXPECT_EQ(wire.Wait(10), Bytes({0x84}));
    EXPECT_FALSE(wire.model.Violations().empty());
}

TEST(FlashLoader, EraseRangeBeyondTheChipIsFlashFull) {
    Wire wire(Loader());
    Connected(wire);
    wire.Send({0x55, 0x6A, 0x55});
    EXPECT_EQ(wire.Send(EraseFrame(kBase + 0x100000, kBase + 0x300000)), Bytes({0x55, 0x92}));
    EXPECT_EQ(wire.model.Counters().eraseRanges, 0u);
}

struct BadFrameCase {
    const char* name;
    Bytes frame;
    uint8_t code;
};

class BadFrames : public testing::TestWithParam<BadFrameCase> {};

TEST_P(BadFrames, AreAnsweredWithTheirCodeAndTheRetryIsTaken) {
    const BadFrameCase& c = GetParam();
    Wire wire(Loader());
    wire.OpenSection(kBase, kBase + 4);
    EXPECT_EQ(wire.Send(Cat({0x55}, c.frame)), Bytes({0x77, c.code}));
    EXPECT_EQ(wire.model.Violations().size(), 1u);
    wire.Wait(100);
    EXPECT_EQ(wire.Send(Cat({0x55}, DataFrame(kBase, {9, 8, 7, 6}))), Bytes({0x77, 0x55}));
    EXPECT_EQ(wire.Wait(10), Bytes({0x55}));
    EXPECT_EQ(wire.model.FlashBytes(kBase, 4), Bytes({9, 8, 7, 6}));
}

Bytes Corrupt(Bytes frame, size_t at, uint8_t value) {
    frame[at] = value;
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Sfld, BadFrames,
    testing::Values(
        BadFrameCase{"checksum", Corrupt(DataFrame(kBase, {9, 8, 7, 6}), 9, 0x00), 0x81},
        BadFrameCase{"endMark", Corrupt(DataFrame(kBase, {9, 8, 7, 6}), 13, 0x00), 0x88},
        BadFrameCase{"wordCount", {0x5B, 0x04, 0x03}, 0x82},
        BadFrameCase{"notAFrame", {0x42}, 0x83}),
    CaseName());

TEST(FlashLoader, EraseRecordOfTheWrongLengthIsBadLength) {
    Wire wire(Loader());
    Connected(wire);
    wire.Send({0x55, 0x6A, 0x55});
    EXPECT_EQ(wire.Send(DataFrame(kBase, {1, 2})), Bytes({0x82}));
}

TEST(FlashLoader, ARecordThatStopsHalfWayTimesOut) {
    Wire wire(Loader());
    wire.OpenSection(kBase, kBase + 4);
    const Bytes frame = DataFrame(kBase, {1, 2, 3, 4});
    wire.Send(Cat({0x55}, Bytes(frame.begin(), frame.begin() + 5)));
    EXPECT_EQ(wire.Wait(499), Bytes());
    EXPECT_EQ(wire.Wait(1), Bytes({0x85}));
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

TEST(FlashLoader, BytesWhileErasingOrProgrammingAreViolations) {
    Wire wire(Loader());
    Connected(wire);
    wire.Send({0x55, 0x6A, 0x55});
    wire.Send(EraseFrame(kBase, kBase + 0x4000));
    wire.Send({0x90});
    EXPECT_EQ(wire.model.Violations().size(), 1u);
}

TEST(FlashLoader, StartedLoaderAnswersTheEndRecordBeforeAnyConnect) {
    Wire wire(Loader());
    EXPECT_EQ(wire.Send(Cat({0x55}, EndFrame())), Bytes({0x77, 0x55}));
    EXPECT_EQ(Connected(wire), Bytes({0x77, 0xAA}));
    EXPECT_TRUE(wire.model.Violations().empty());
}

TEST(FlashLoader, ByteAtTheWrongSpeedIsLostAndLogged) {
    Wire wire(Loader());
    wire.speed = 8;
    EXPECT_EQ(wire.Send({0x55, 0xAA}), Bytes());
    EXPECT_EQ(wire.model.Violations().size(), 2u);
}

}  // namespace
