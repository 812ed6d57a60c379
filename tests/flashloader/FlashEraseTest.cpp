// The erase wait and the boot-reload request.
#include <gmock/gmock.h>

#include "flashloader/SfldCodes.h"
#include "support/ProtocolFixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using namespace sfld;

namespace {

class EraseTest : public ProtocolFixture {
  protected:
    // `count` SECTOR_ERASED codes, the first `gapMs` after the start and each `gapMs` apart.
    uint64_t Sectors(uint64_t fromMs, int count, uint64_t gapMs) {
        for (int i = 1; i <= count; ++i) {
            At(fromMs + i * gapMs, {SECTOR_ERASED});
        }
        return fromMs + count * gapMs;
    }
};

TEST_F(EraseTest, WithoutACountTwentySectorsAreAssumed) {
    const uint64_t last = Sectors(0, 5, 100);
    EXPECT_FALSE(loader.WaitErase());
    EXPECT_EQ(context.progress.Get(), 250);
    EXPECT_EQ(context.phase.Get(), 2);
    EXPECT_EQ(Elapsed(), last + 5000);
    EXPECT_THAT(Logged(), ElementsAre("1 sectors erased.", "2 sectors erased.", "3 sectors erased.",
                                      "4 sectors erased.", "5 sectors erased.",
                                      "'SECTOR_ERASED' waiting time out."));
    EXPECT_EQ(context.statusText.Get(), "Erasing Flash");
}

TEST_F(EraseTest, AnnouncedCountReachesAThousandBeforeOk) {
    At(10, {0x8A, PARAM_CODE, ERASE_CODE, 3});
    Sectors(10, 3, 100);
    EXPECT_FALSE(loader.WaitErase());
    EXPECT_EQ(context.progress.Get(), 1000);
    EXPECT_EQ(Logged().front(), "Sectors to erase N = 3.");
}

TEST_F(EraseTest, ProgressRoundsHalfUp) {
    At(0, {PARAM_CODE, ERASE_CODE, 3});
    Sectors(0, 2, 10);
    EXPECT_FALSE(loader.WaitErase());
    EXPECT_EQ(context.progress.Get(), 667);
}

TEST_F(EraseTest, AZeroCountDoesNotDivideByZero) {
    At(0, {PARAM_CODE, ERASE_CODE, 0, SECTOR_ERASED, OK_CODE});
    EXPECT_TRUE(loader.WaitErase());
    const auto lines = Logged();
    EXPECT_THAT(lines, Contains("Sectors to erase N = 0."));
    EXPECT_EQ(context.progress.Get(), 1000);
}

TEST_F(EraseTest, SlowSectorsSucceedUpToJustUnderFiveSeconds) {
    const uint64_t last = Sectors(0, 30, 4999);
    At(last + 4999, {OK_CODE});
    EXPECT_TRUE(loader.WaitErase());
    EXPECT_EQ(context.progress.Get(), 1000);
    EXPECT_EQ(context.statusText.Get(), "FLASH erasing complete");
    const auto lines = Logged();
    EXPECT_EQ(lines.back(), "FLASH erasing complete.");
    EXPECT_EQ(lines[lines.size() - 2], "30 sectors erased.");
}

TEST_F(EraseTest, FiveSecondsBetweenSectorsFail) {
    const uint64_t last = Sectors(0, 4, 4900);
    At(last + 5000, {SECTOR_ERASED});
    EXPECT_FALSE(loader.WaitErase());
    EXPECT_EQ(Elapsed(), last + 5000);
    EXPECT_EQ(Logged().back(), "'SECTOR_ERASED' waiting time out.");
}

TEST_F(EraseTest, RefusalsEndTheErase) {
    struct Case {
        uint8_t code;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {PROGRAM_FAIL, {"FLASH erase failure."}},
        {FLASH_FULL_CODE, {"Image size exeed FLASH space.", "FLASH erase failure."}},
        {REC_WAIT_CODE, {"Unknown command 0x77.", "FLASH erase failure."}},
        {BAD_CSUM, {"Unknown command 0x81.", "FLASH erase failure."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.code));
        context.statusText.Set("");
        link.At(clock.NowMs() + 50, {0x8A, c.code, OK_CODE});
        EXPECT_FALSE(loader.WaitErase());
        EXPECT_EQ(Logged(), c.lines);
        EXPECT_EQ(context.statusText.Get(), "ERROR: FLASH erase failed.");
        link.Purge();
    }
}

TEST_F(ProtocolFixture, BootReloadAnswers) {
    struct Case {
        ScriptedLink::Bytes answer;
        bool ok;
        uint64_t elapsed;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{0x00, BOOT_RELOAD}, true, 20, {"BOOT Reload enabled."}},
        {{BAD_COMMAND, BOOT_RELOAD},
         false,
         20,
         {"BOOT Reload command unsupported by this swload revision"}},
        {{},
         false,
         500,
         {"'BOOT_RELOAD' waiting time out.",
          "BOOT Reload command are unsupported by this swload revision"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.front());
        link.written.clear();
        const uint64_t start = clock.NowMs();
        link.At(start + 20, c.answer);
        EXPECT_EQ(loader.BootReload().ok(), c.ok);
        EXPECT_EQ(clock.NowMs() - start, c.elapsed);
        EXPECT_EQ(Logged(), c.lines);
        EXPECT_THAT(link.written, ElementsAre(BOOT_RELOAD));
        link.Purge();
    }
}

TEST_F(ProtocolFixture, BootReloadWaitFollowsTheLinksTimeoutFactor) {
    link.timeoutFactor = 3;
    EXPECT_FALSE(loader.BootReload());
    EXPECT_EQ(Elapsed(), 1500u);
}

}  // namespace
