// Erasing and programming against the simulated device on a virtual clock.
#include <gmock/gmock.h>

#include <algorithm>
#include <memory>

#include "flashloader/SfldLoader.h"
#include "support/ProtocolFixture.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

// An image parsed as the request carries it.
struct Image {
    explicit Image(const Bytes& contents) : image(*ParseBytes(contents)) {}
    ParsedImage image;
};

std::string SRecordImage(const Bytes& data, uint32_t at = kMainStart) {
    return imagefiles::S3Lines(at, data, 30) + imagefiles::SLine(7, at);
}

class FlashProgramTest : public ProtocolFixture {
  protected:
    // A fresh device built from `config`, and a fresh session with the loader on it.
    void Restart() {
        StartDevice();
        context.statusText.Set("");
        context.programmingStarted.Set(0);
        session = SfldSession();
        session.RecordWaitMode = true;
        onDevice = std::make_unique<SfldLoader>(context, session);
        startMs = clock.NowMs();
    }
    // Programs `contents` into a device built from `config`.
    Result Program(const Bytes& contents) {
        Restart();
        image = std::make_unique<Image>(contents);
        return onDevice->FlashProgram(image->image);
    }
    bool FlashHolds(uint32_t at, const Bytes& data) {
        return model->FlashBytes(at, static_cast<uint32_t>(data.size())) == data;
    }
    std::string Status() { return context.statusText.Get(); }

    std::unique_ptr<SfldLoader> onDevice;
    uint64_t startMs = 0;
    std::unique_ptr<Image> image;
    const Bytes data = imagefiles::RandomBytes(9001, 7);
    const Bytes srec = imagefiles::ToBytes(SRecordImage(data));
};

TEST_F(FlashProgramTest, AnSRecordImageEndsUpInTheFlash) {
    ASSERT_TRUE(Program(srec));
    EXPECT_TRUE(FlashHolds(kMainStart, data));
    EXPECT_THAT(model->Violations(), IsEmpty());
    EXPECT_EQ(model->Counters().unerasedPrograms, 0u);
    EXPECT_EQ(context.progress.Get(), 1000);
    EXPECT_EQ(context.phase.Get(), 3);
    EXPECT_EQ(Status(), "FLASH Programming");
    EXPECT_EQ(context.programmingStarted.Get(), 1);
    const auto lines = Logged();
    EXPECT_THAT(lines, Contains("SFLD Version ID: $SFLD V2.05"));
    // what reports tell of the loader and its chip
    EXPECT_EQ(context.loaderFacts.version, "$SFLD V2.05");
    EXPECT_EQ(context.loaderFacts.flashMaker, 0x01);
    EXPECT_EQ(context.loaderFacts.flashDevice, 0x2249);
    EXPECT_EQ(context.loaderFacts.flashName, "AM29LV160B/DB");
    // what will be written is listed once the flash is known and before it is erased
    const std::string listed =
        "Section 0: main firmware, S-records, 0x10004000 - 0x10006329, 9001 bytes, CRC-32 " +
        imagefiles::Hex32(imagefiles::Crc32Of(data));
    const auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    EXPECT_EQ(at(listed), at("FLASH Type: AM29LV160B/DB") + 1);
    EXPECT_LT(at(listed), at("ERASE From 0x10004000 to 0x10006329"));
    EXPECT_THAT(lines, Contains("=============== Upload section N0 ==============="));
    EXPECT_THAT(lines, Contains("ERASE From 0x10004000 to 0x10006329"));
    EXPECT_THAT(lines, Contains("Sectors to erase N = 2."));
    EXPECT_THAT(lines, Contains("Record write succesfull (A=0x10004000,SZ=0x0804)."));
    EXPECT_EQ(lines.back(), "FLASH Programming Complete.");
}

TEST_F(FlashProgramTest, TheRunningLoaderIsNeverProgrammed) {
    const Bytes pfl = imagefiles::BinarySection(kFlashStart, 0x1000, true, 1);
    Bytes file = pfl;
    file.resize(0x4000, 0xFF);
    const Bytes main = imagefiles::BinarySection(kMainStart, 0x3000, true, 2);
    const Bytes sfl = imagefiles::BinarySection(kSflStart, 0x800, true, 3);
    file = imagefiles::Join(imagefiles::Join(file, main), sfl);
    Restart();
    image = std::make_unique<Image>(file);
    ASSERT_EQ(image->image.sections.size(), 3u);
    ASSERT_EQ(image->image.sections[2].firmwareId, FirmwareId::Sfl);
    ASSERT_TRUE(onDevice->FlashProgram(image->image));
    EXPECT_TRUE(FlashHolds(kFlashStart, Bytes(pfl.begin(), pfl.end() - 4)));
    EXPECT_TRUE(FlashHolds(kMainStart, Bytes(main.begin(), main.end() - 4)));
    EXPECT_EQ(model->Counters().eraseRanges, 2u);
    const auto lines = Logged();
    EXPECT_THAT(lines, Contains("=============== Upload section N1 ==============="));
    EXPECT_THAT(lines, Not(Contains("=============== Upload section N2 ===============")));
}

TEST_F(FlashProgramTest, BootReloadAnswersDoNotStopTheSection) {
    struct Case {
        BootReloadAnswer answer;
        const char* line;
    };
    const Case cases[] = {
        {BootReloadAnswer::Accept, "BOOT Reload enabled."},
        {BootReloadAnswer::Refuse, "BOOT Reload command unsupported by this swload revision"},
        {BootReloadAnswer::Silent, "'BOOT_RELOAD' waiting time out."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        config.bootReload = c.answer;
        Restart();
        image = std::make_unique<Image>(srec);
        ASSERT_TRUE(onDevice->FlashProgram(image->image, true));
        EXPECT_TRUE(FlashHolds(kMainStart, data));
        EXPECT_THAT(Logged(), Contains(c.line));
    }
}

TEST_F(FlashProgramTest, ARecordAnsweredWithAnErrorIsSentAgain) {
    for (uint8_t code : {SimCodes::BAD_CSUM, SimCodes::BAD_LENGTH, SimCodes::RECORD_TIMEOUT,
                         SimCodes::NO_REC_END, SimCodes::BAD_COMMAND}) {
        SCOPED_TRACE(int(code));
        config.faults.errorRecord = 3;
        config.faults.errorCode = code;
        config.faults.errorCount = 4;
        ASSERT_TRUE(Program(srec));
        EXPECT_TRUE(FlashHolds(kMainStart, data));
        EXPECT_EQ(model->Counters().unerasedPrograms, 0u);
    }
}

TEST_F(FlashProgramTest, ErrorsForTenSecondsFailTheUpload) {
    config.faults.errorRecord = 2;
    config.faults.errorCount = 100000;
    EXPECT_FALSE(Program(srec));
    EXPECT_EQ(Status(), "ERROR: FLASH Program FAILED");
    EXPECT_THAT(Logged(), Contains("ERROR: Send Record TIMEOUT."));
}

TEST_F(FlashProgramTest, ALoaderThatNeverAsksForTheRecordIsGivenUpAfterThreeTries) {
    // The host waits for REC_WAIT_CODE after each lead byte; this loader never sends it.
    config.recWait = false;
    EXPECT_FALSE(Program(srec));
    const auto lines = Logged();
    const auto timeOuts =
        std::count(lines.begin(), lines.end(), "'REC_WAIT_CODE' waiting time out.");
    EXPECT_EQ(timeOuts, 3);
    EXPECT_THAT(lines, Contains("ERROR: Send Record TIMEOUT."));
    EXPECT_EQ(Status(), "ERROR: FLASH Program FAILED");
    EXPECT_EQ(model->Counters().eraseRanges, 0u);
}

TEST_F(FlashProgramTest, SlowEraseSucceedsJustUnderFiveSecondsASector) {
    config.faults.eraseMsPerSector = 4900;
    config.faults.noParameter = true;
    const Bytes big = imagefiles::RandomBytes(0x30000, 3);
    ASSERT_TRUE(Program(imagefiles::ToBytes(SRecordImage(big))));
    EXPECT_TRUE(FlashHolds(kMainStart, big));
    EXPECT_THAT(Logged(), Contains("5 sectors erased."));
}

TEST_F(FlashProgramTest, FiveSecondsForASectorFailTheUpload) {
    config.faults.eraseMsPerSector = 5000;
    EXPECT_FALSE(Program(srec));
    EXPECT_EQ(Status(), "ERROR: FLASH Program FAILED");
    EXPECT_THAT(Logged(), Contains("'SECTOR_ERASED' waiting time out."));
    EXPECT_EQ(model->Counters().recordsProgrammed, 0u);
}

// The failure carries the reason of the erase, whatever the log holds before it.
TEST_F(FlashProgramTest, EraseFailuresEndTheUploadBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        uint8_t code;       // the answer to the first record, the erase range; 0: none
        uint32_t chipSize;  // 0: the usual chip
        const char* line;
        std::string words;
    };
    const std::string erase = "ERROR: FLASH Program FAILED\nERROR: FLASH erase failed.";
    const std::string full = erase + "\nImage size exeed FLASH space.";
    const Case cases[] = {
        {"PROGRAM_FAIL", SimCodes::PROGRAM_FAIL, 0, "FLASH erase failure.", erase},
        {"FLASH_FULL_CODE", SimCodes::FLASH_FULL_CODE, 0, "Image size exeed FLASH space.", full},
        {"an image beyond the chip", 0, 0x4000, "Image size exeed FLASH space.", full},
        {"BAD_CSUM mended by a retry", SimCodes::BAD_CSUM, 0x4000, "ERROR: BAD_CSUM", full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        config.faults.errorRecord = c.code != 0 ? 1 : 0;
        config.faults.errorCode = c.code;
        config.chip.size = c.chipSize != 0 ? c.chipSize : DeviceConfig().chip.size;
        EXPECT_EQ(Program(srec).words(), c.words);
        EXPECT_EQ(Status(), "ERROR: FLASH Program FAILED");
        EXPECT_THAT(Logged(), Contains(c.line));
        EXPECT_EQ(model->Counters().recordsProgrammed, 0u);
    }
}

TEST_F(FlashProgramTest, ProgramFailAnywhereInTheSectionFailsTheUpload) {
    // Records: 1 is the erase range, 2 to 6 carry data, 7 ends the section. A loader may
    // still answer OK_CODE after PROGRAM_FAIL: the record is not in the flash all the same.
    // Said at the section's start, it ends the section before anything is erased.
    struct Case {
        const char* where;
        uint32_t record;
        bool early;
        bool thenOk;
        bool atStart = false;
    };
    const Case cases[] = {
        {"section start's answer, then OK", 0, false, true, true},
        {"programming wait", 3, false, false},
        {"programming wait, then OK", 3, false, true},
        {"record's answer", 3, true, false},
        {"record's answer, then OK", 3, true, true},
        {"end record's answer", 7, false, false},
        {"end record's answer, then OK", 7, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        config.faults.errorRecord = c.record;
        config.faults.errorCode = SimCodes::PROGRAM_FAIL;
        config.faults.programFailEarly = c.early;
        config.faults.programFailThenOk = c.thenOk;
        config.faults.programFailAtStart = c.atStart;
        EXPECT_EQ(Program(srec).words(),
                  "ERROR: FLASH Program FAILED\n'PROGRAM_FAIL' msg received.");
        EXPECT_EQ(Status(), "ERROR: FLASH Program FAILED");
        EXPECT_THAT(Logged(), Contains("'PROGRAM_FAIL' msg received."));
        // no record after it, not even the same one again; the loader's answers were all read
        EXPECT_EQ(model->Counters().recordsReceived, c.record);
        uint8_t left = 0;
        EXPECT_FALSE(simLink->ReadByte(left));
    }
}

TEST_F(FlashProgramTest, ASilentDeviceIsNotConnected) {
    config.faults.silent = true;
    EXPECT_FALSE(Program(srec));
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(context.programmingStarted.Get(), 0);
    EXPECT_THAT(Logged(), IsEmpty());
}

TEST_F(FlashProgramTest, AnImageWithNothingWrittenProgramsNothing) {
    Restart();
    image = std::make_unique<Image>(srec);
    // a secondary loader alone is the running loader's, never written
    image->image.sections[0].firmwareId = FirmwareId::Sfl;
    ASSERT_TRUE(onDevice->FlashProgram(image->image));
    EXPECT_EQ(model->Counters().eraseRanges, 0u);
}

// Whatever goes wrong on the line, success is only ever reported with the image in the flash,
// and a failure ends the upload in bounded time.
TEST_F(FlashProgramTest, FaultsNeverEndInAFalseSuccess) {
    struct Fault {
        const char* name;
        std::function<void(FaultSwitches&, uint32_t)> set;
    };
    const Fault faults[] = {
        {"drop", [](FaultSwitches& f, uint32_t n) { f.dropReply = n; }},
        {"unplug", [](FaultSwitches& f, uint32_t n) { f.unplugAfter = n * 500; }},
        {"noise",
         [](FaultSwitches& f, uint32_t n) {
             f.noiseRate = 0.0005;
             f.noiseSeed = n;
         }},
        {"PROGRAM_FAIL then OK_CODE",
         [](FaultSwitches& f, uint32_t n) {
             f.errorRecord = n;
             f.errorCode = SimCodes::PROGRAM_FAIL;
             f.programFailThenOk = true;
         }},
    };
    int successes = 0;
    int failures = 0;
    for (const Fault& fault : faults) {
        for (uint32_t n = 1; n <= 12; ++n) {
            SCOPED_TRACE(::testing::Message() << fault.name << " " << n);
            config = DeviceConfig();
            fault.set(config.faults, n);
            if (Program(srec)) {
                ++successes;
                EXPECT_TRUE(FlashHolds(kMainStart, data));
            } else {
                ++failures;
                // A loader that never connected leaves the status alone; the caller reports.
                if (context.programmingStarted.Get() != 0) {
                    EXPECT_THAT(Status(), HasSubstr("ERROR: "));
                } else {
                    EXPECT_EQ(Status(), "");
                }
            }
            EXPECT_LT(clock.NowMs() - startMs, 60000u);
        }
    }
    // The cases must exercise both outcomes, or they prove little.
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

}  // namespace
