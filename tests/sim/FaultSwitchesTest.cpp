// Each fault switch of the device, seen on the wire.
#include <gtest/gtest.h>

#include "tests/CaseName.h"
#include "tests/sim/Wire.h"

namespace {

constexpr uint32_t kBase = 0x10000000;

DeviceConfig Loader(void (*faults)(FaultSwitches&)) {
    DeviceConfig config;
    config.start = Personality::FlashLoader;
    faults(config.faults);
    return config;
}

TEST(Faults, DropReplyLosesOnlyTheNthAnswer) {
    // Replies: 1 REC_WAIT after 0x55, 2 SYNC, 3 version line.
    Wire wire(Loader([](FaultSwitches& f) { f.dropReply = 2; }));
    EXPECT_EQ(wire.Send({0x55, 0xAA}), Bytes({0x77}));
    EXPECT_EQ(wire.Send({0x90}), B("$SFLD V2.05\r\n"));
    EXPECT_EQ(wire.model.Counters().repliesDropped, 1u);
}

struct ErrorCase {
    const char* name;
    uint8_t code;
    uint32_t record;  // 1 is the erase record, 2 the first data record
    Bytes answer;     // to the faulty record, after its REC_WAIT
    Bytes later;      // what follows within the programming time
    bool programFailThenOk = false;
    bool programFailEarly = false;
    bool endRecord = false;  // record 2 is the end record
};

class ErrorRecord : public testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorRecord, AnswersTheChosenRecordWithTheChosenCode) {
    const ErrorCase& c = GetParam();
    DeviceConfig config = Loader([](FaultSwitches&) {});
    config.faults.errorRecord = c.record;
    config.faults.errorCode = c.code;
    config.faults.programFailThenOk = c.programFailThenOk;
    config.faults.programFailEarly = c.programFailEarly;
    Wire wire(config);
    wire.Send({0x55, 0xAA, 0x55, 0x6A, 0x55});
    Bytes answer = wire.Send(EraseFrame(kBase, kBase + 4));
    if (c.record == 2) {
        wire.Wait(1000);
        answer = wire.Send(Cat({0x55}, c.endRecord ? EndFrame() : DataFrame(kBase, {1, 2, 3, 4})));
        answer.erase(answer.begin());
    }
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(wire.Wait(10), c.later);
    EXPECT_EQ(wire.model.FlashBytes(kBase, 4), Bytes(4, 0xFF));
    EXPECT_TRUE(wire.model.Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorRecord,
    testing::Values(ErrorCase{"badChecksum", 0x81, 2, {0x81}, {}},
                    ErrorCase{"badLength", 0x82, 2, {0x82}, {}},
                    ErrorCase{"badCommand", 0x83, 2, {0x83}, {}},
                    ErrorCase{"recordTimeout", 0x85, 2, {0x85}, {}},
                    ErrorCase{"noRecordEnd", 0x88, 2, {0x88}, {}},
                    ErrorCase{"programFail", 0x84, 2, {0x55}, {0x84}},
                    ErrorCase{"programFailThenOk", 0x84, 2, {0x55}, {0x84, 0x55}, true},
                    ErrorCase{"programFailEarly", 0x84, 2, {0x84}, {}, false, true},
                    ErrorCase{"programFailEarlyThenOk", 0x84, 2, {0x84, 0x55}, {0x55}, true, true},
                    ErrorCase{"endProgramFail", 0x84, 2, {0x84}, {}, false, false, true},
                    ErrorCase{"endProgramFailThenOk", 0x84, 2, {0x84, 0x55}, {}, true, false, true},
                    ErrorCase{"eraseFails", 0x84, 1, {0x55, 0x84}, {}},
                    ErrorCase{"flashFull", 0x92, 1, {0x55, 0x92}, {}}),
    CaseName());

TEST(Faults, ErrorCountAnswersSeveralRecordsInARow) {
    DeviceConfig config = Loader([](FaultSwitches& f) {
        f.errorRecord = 2;
        f.errorCount = 2;
    });
    Wire wire(config);
    wire.OpenSection(kBase, kBase + 4);
    const Bytes record = Cat({0x55}, DataFrame(kBase, {1, 2, 3, 4}));
    EXPECT_EQ(wire.Send(record), Bytes({0x77, 0x81}));
    EXPECT_EQ(wire.Send(record), Bytes({0x77, 0x81}));
    EXPECT_EQ(wire.Send(record), Bytes({0x77, 0x55}));
}

TEST(Faults, ProgramFailAtStartAnswersEverySectionStart) {
    Wire wire(Loader([](FaultSwitches& f) { f.programFailAtStart = true; }));
    // The connect's lead byte is no section start.
    EXPECT_EQ(wire.Send({0x55, 0xAA}), Bytes({0x77, 0xAA}));
    EXPECT_EQ(wire.Send({0x55}), Bytes({0x84, 0x55}));
    // The erase still runs when the host goes on.
    EXPECT_EQ(wire.Send({0x6A}), Bytes({0x55, 0x77}));
    EXPECT_EQ(wire.model.Counters().programFails, 1u);
}

TEST(Faults, EraseTimePerSector) {
    Wire wire(Loader([](FaultSwitches& f) { f.eraseMsPerSector = 4900; }));
    wire.Send({0x55, 0xAA, 0x55, 0x6A, 0x55});
    wire.Send(EraseFrame(kBase, kBase + 0x8000));  // the 16 KiB and both 8 KiB sectors
    const uint64_t start = wire.now;
    EXPECT_EQ(wire.Wait(4899), Bytes());
    EXPECT_EQ(wire.Wait(1), Bytes({0x8F}));
    EXPECT_EQ(wire.Wait(9800), Bytes({0x8F, 0x8F, 0x55}));
    EXPECT_EQ(wire.lastAtMs, start + 3 * 4900);
}

TEST(Faults, SilentDeviceTakesEverythingAndAnswersNothing) {
    Wire wire(Loader([](FaultSwitches& f) { f.silent = true; }));
    EXPECT_EQ(wire.Send({0x55, 0xAA, 0x90, 0x91}), Bytes());
    EXPECT_GT(wire.model.Counters().replies, 0u);
    EXPECT_EQ(wire.model.Counters().connects, 1u);
}

TEST(Faults, UnplugAfterNBytesEndsAllAnswers) {
    DeviceConfig config = Loader([](FaultSwitches& f) {
        f.unplugAfter = 3;
        f.eraseMsPerSector = 10;
    });
    Wire wire(config);
    EXPECT_EQ(wire.Send({0x55, 0xAA}), Bytes({0x77, 0xAA}));
    EXPECT_FALSE(wire.model.Unplugged());
    EXPECT_EQ(wire.Send({0x90}), B("$SFLD V2.05\r\n"));
    EXPECT_TRUE(wire.model.Unplugged());
    EXPECT_EQ(wire.Send({0x90}), Bytes());
}

TEST(Faults, UnplugInEraseEndsTheEraseAfterNSectors) {
    Wire wire(Loader([](FaultSwitches& f) {
        f.unplugInErase = 2;
        f.eraseMsPerSector = 10;
    }));
    wire.Send({0x55, 0xAA, 0x55, 0x6A, 0x55});
    const Bytes announced = {0x55, 0x8E, 0x6A, 0x03};  // the 16 KiB and both 8 KiB sectors
    EXPECT_EQ(wire.Send(EraseFrame(kBase, kBase + 0x8000)), announced);
    EXPECT_EQ(wire.Wait(1000), Bytes({0x8F, 0x8F}));  // neither the third nor the OK
    EXPECT_TRUE(wire.model.Unplugged());
}

TEST(Faults, LineNoiseOnEveryByteKeepsTheHostFromConnecting) {
    Wire wire(Loader([](FaultSwitches& f) { f.noiseRate = 1.0; }));
    Bytes answers;
    for (int i = 0; i < 20; ++i) {
        answers = Cat(answers, wire.Send({0x55, 0xAA}));
    }
    EXPECT_EQ(wire.model.Counters().connects, 0u);
    // What the device made of the garbled bytes is noted, not blamed on the host.
    EXPECT_TRUE(wire.model.Violations().empty());
    EXPECT_FALSE(wire.model.Notes().empty());
}

TEST(Faults, LineNoiseAtALowRateLeavesMostBytes) {
    DeviceConfig config = Loader([](FaultSwitches& f) { f.noiseRate = 0.1; });
    config.sfldVersion = "$" + std::string(999, 'x');
    Wire wire(config);
    wire.model.Config().faults.noiseRate = 0;
    wire.Send({0x55, 0xAA});
    wire.model.Config().faults.noiseRate = 0.1;
    Bytes answer;
    for (int i = 0; i < 10; ++i) {
        answer = Cat(answer, wire.Send({0x90}));
    }
    size_t changed = 0;
    for (uint8_t b : answer) {
        changed += b != 'x' && b != '$' && b != '\r' && b != '\n';
    }
    EXPECT_GT(changed, answer.size() / 20);
    EXPECT_LT(changed, answer.size() / 5);
}

}  // namespace
