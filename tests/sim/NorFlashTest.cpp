// The flash chip's sector layout and the frame reader, apart from any dialogue.
#include <gtest/gtest.h>

#include "sim/FrameReceiver.h"
#include "sim/NorFlash.h"
#include "tests/CaseName.h"

namespace {

struct LayoutCase {
    const char* text;
    bool good;
    std::vector<uint32_t> sectors;
};

class SectorLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(SectorLayouts, ParseOrAreRefused) {
    std::vector<uint32_t> sectors;
    EXPECT_EQ(ParseSectorLayout(GetParam().text, sectors), GetParam().good);
    if (GetParam().good) {
        EXPECT_EQ(sectors, GetParam().sectors);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SectorLayouts,
    testing::Values(LayoutCase{"1x16K,2x8K,1x32K", true, {0x4000, 0x2000, 0x2000, 0x8000}},
                    LayoutCase{"2x0x1000", true, {0x1000, 0x1000}},
                    LayoutCase{"3x1M", true, {0x100000, 0x100000, 0x100000}},
                    LayoutCase{"", false, {}}, LayoutCase{"x64K", false, {}},
                    LayoutCase{"2x", false, {}}, LayoutCase{"2x64Q", false, {}},
                    LayoutCase{"0x64K", false, {}}, LayoutCase{"2x0", false, {}}),
    [](const auto& info) { return TestName(info.param.text); });

TEST(NorFlash, SectorsForARangeAreTheOnesItTouches) {
    FlashChip chip;  // 16K, 8K, 8K, 32K, then 64K sectors from 0x10000000
    NorFlash flash(chip);
    EXPECT_EQ(flash.SectorCount(), 35u);
    EXPECT_EQ(flash.SectorsFor(0x10000000, 0x10004000), std::vector<uint32_t>({0}));
    EXPECT_EQ(flash.SectorsFor(0x10003FFF, 0x10006001), std::vector<uint32_t>({0, 1, 2}));
    EXPECT_EQ(flash.SectorsFor(0x10010000, 0x10020001), std::vector<uint32_t>({4, 5}));
    EXPECT_EQ(flash.SectorsFor(0x101F0000, 0x10200000), std::vector<uint32_t>({34}));
    EXPECT_TRUE(flash.SectorsFor(0x101F0000, 0x10200001).empty());
    EXPECT_TRUE(flash.SectorsFor(0x0FFFFFFF, 0x10000001).empty());
}

TEST(NorFlash, ProgrammingClearsBitsOnlyAndEraseSetsThemAgain) {
    NorFlash flash(FlashChip{});
    const uint8_t first[2] = {0x0F, 0xFF};
    const uint8_t second[2] = {0xF0, 0x3C};
    EXPECT_EQ(flash.Program(0x10000000, first, 2), 0u);
    EXPECT_EQ(flash.UnerasedIn(0x10000000, second, 2), 1u);
    EXPECT_EQ(flash.Program(0x10000000, second, 2), 1u);
    EXPECT_EQ(flash.Read(0x10000000, 2), std::vector<uint8_t>({0x00, 0x3C}));
    flash.EraseSector(0);
    EXPECT_EQ(flash.Read(0x10000000, 2), std::vector<uint8_t>({0xFF, 0xFF}));
}

TEST(FrameReceiver, TakesTheEraseRecordOfTheFrameTable) {
    const std::vector<uint8_t> frame = {0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00,
                                        0x10, 0x10, 0x00, 0x00, 0x40, 0x10, 0x5D};
    FrameReceiver reader;
    FrameReceiver::Result result = FrameReceiver::Result::More;
    for (uint8_t b : frame) {
        result = reader.Feed(b);
    }
    EXPECT_EQ(result, FrameReceiver::Result::Complete);
    EXPECT_EQ(reader.Words(), 4u);
    EXPECT_EQ(reader.Address(), 0x10004000u);
}

}  // namespace
