// The chip tables' layout rules and the identification dialogue.
#include <gmock/gmock.h>

#include <array>
#include <cstring>

#include "flashloader/FlashChipTable.h"
#include "flashloader/SfldCodes.h"
#include "support/ProtocolFixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace sfld;

namespace {

size_t ReachableEntries(std::span<const FlashChipEntry> table) {
    size_t count = 0;
    while (count < table.size() && table[count].deviceId != 0) {
        ++count;
    }
    return count;
}

TEST(FlashChipTable, TablesComeInOrderWithinTheirSizes) {
    struct Layout {
        uint8_t code;
        size_t most;
    };
    const Layout layout[] = {{0x52, 4},   {0x01, 180}, {0x1F, 5},  {0x04, 74},
                             {0x89, 114}, {0x2C, 13},  {0xB0, 27}, {0x20, 55},
                             {0xC2, 35},  {0xBF, 62},  {0x98, 8}};
    const auto tables = FlashChipTable();
    ASSERT_EQ(tables.size(), std::size(layout));
    for (size_t i = 0; i < tables.size(); ++i) {
        SCOPED_TRACE(i);
        const auto table = tables[i];
        EXPECT_EQ(table.front().manufacturer, layout[i].code);
        EXPECT_LE(ReachableEntries(table), layout[i].most);
        // Every table closes, so a lookup never runs past its end.
        EXPECT_LT(ReachableEntries(table), table.size());
        for (size_t k = 0; k < ReachableEntries(table); ++k) {
            EXPECT_GT(std::strlen(table[k].name), 0u);
            EXPECT_EQ(table[k].zero, 0);
        }
    }
    EXPECT_EQ(ReachableEntries(tables[2]), 5u);
    EXPECT_STREQ(tables[2][5].name, "AT29C040");
}

TEST(FlashChipTable, Lookups) {
    struct Case {
        uint8_t code;
        uint16_t id;
        const char* name;  // nullptr: not found
    };
    const Case cases[] = {
        {0x52, 0x00BA, "AS29LV400B"},
        {0x01, 0x2258, "AM29F800B"},
        {0x01, 0x2249, "AM29LV160B/DB"},
        {0x04, 0x2249, "MBM29LV160BE"},
        {0x2C, 0x0018, "MT28F128J3"},
        {0x98, 0x009C, "TC58FVB321"},
        {0xBF, 0x2780, "SST39VF400"},
        // Stored only after the entry that ends the Atmel table.
        {0x1F, 0x00C9, nullptr},
        {0x1F, 0x0000, nullptr},
        {0x1F, 0x00C8, "AT49BV32X"},
        // Within a table only the device id counts, whatever code its entry carries.
        {0xB0, 0x00D0, "28F160S5"},
        {0x89, 0x00B0, "LH28F640BF"},
        {0x89, 0x0018, "28F128J3"},
        {0x01, 0x1234, nullptr},
        {0x37, 0x2249, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << int(c.code) << "/" << c.id);
        const FlashChipEntry* entry = LookupFlashChip(c.code, c.id);
        if (c.name == nullptr) {
            EXPECT_EQ(entry, nullptr);
        } else {
            ASSERT_NE(entry, nullptr);
            EXPECT_STREQ(entry->name, c.name);
        }
    }
}

TEST(FlashChipTable, VendorsAndShortAnswers) {
    EXPECT_STREQ(FlashVendorName(0x01), "Advanced Micro Devices");
    EXPECT_STREQ(FlashVendorName(0x20), "SGS/Thomson");
    EXPECT_STREQ(FlashVendorName(0xC2), "Macronix");
    EXPECT_STREQ(FlashVendorName(0x00), "Unknown Vendor ID");
    EXPECT_STREQ(FlashVendorName(0xFF), "Unknown Vendor ID");
    EXPECT_STREQ(FlashShortAnswerName(0), "UNKNOWN");
    EXPECT_STREQ(FlashShortAnswerName(1), "AMD29LV200B");
    EXPECT_STREQ(FlashShortAnswerName(8), "TC58FVB321FT");
    EXPECT_STREQ(FlashShortAnswerName(17), "AT29LV32X");
    EXPECT_STREQ(FlashShortAnswerName(18), "UNKNOWN");
    EXPECT_STREQ(FlashShortAnswerName(255), "UNKNOWN");
}

class IdentifyTest : public ProtocolFixture {
  protected:
    // The loader's answer to the query: the first byte at once, each further one `gapMs` after
    // the one before.
    void Answer(const ScriptedLink::Bytes& bytes, uint64_t gapMs = 1) {
        link.onWrite = [this, bytes, gapMs](const ScriptedLink::Bytes& chunk) {
            if (chunk[0] != FLASH_ID_CODE) {
                return;
            }
            for (size_t i = 0; i < bytes.size(); ++i) {
                link.After(1 + i * gapMs, {bytes[i]});
            }
        };
    }
    std::string text;
};

TEST_F(IdentifyTest, KnownChipWithCfi) {
    Answer({0x00, 0x13, FLASH_ID_CODE, 0x01, 0x01, 0x22, 0x49, 0x00, 0x20, 0x00, 0x00});
    ASSERT_TRUE(loader.IdentifyFlash(text));
    EXPECT_EQ(text, "AM29LV160B/DB");
    EXPECT_THAT(Logged(), ElementsAre("VENDOR: Advanced Micro Devices", "CHIP: AM29LV160B/DB",
                                      "Common Flash Interface Available", "ManufacturersCode=0x01",
                                      "DeviceID=0x2249", "ChipSize=2048Kb"));
    EXPECT_THAT(link.written, ElementsAre(FLASH_ID_CODE));
}

TEST_F(IdentifyTest, UnknownChipIsDescribedByItsCodes) {
    Answer({FLASH_ID_CODE, 0x00, 0x01, 0x12, 0x34, 0x00, 0x10, 0x00, 0x00});
    ASSERT_TRUE(loader.IdentifyFlash(text));
    EXPECT_EQ(text, ",mfg 0x01,id 0x1234, sz 1024Kb");
    EXPECT_THAT(
        Logged(),
        ElementsAre("VENDOR: Advanced Micro Devices", "Common Flash Interface is not Available",
                    "ManufacturersCode=0x01", "DeviceID=0x1234", "ChipSize=1024Kb"));
}

TEST_F(IdentifyTest, UnknownVendorWithCfi) {
    Answer({FLASH_ID_CODE, 0x07, 0xEE, 0xAB, 0xCD, 0x01, 0x00, 0x04, 0x00});
    ASSERT_TRUE(loader.IdentifyFlash(text));
    EXPECT_EQ(text, "CFI,mfg 0xEE,id 0xABCD, sz 16385Kb");
    EXPECT_EQ(Logged().front(), "VENDOR: Unknown Vendor ID");
}

TEST_F(IdentifyTest, EachAnswerByteRestartsTheSecond) {
    const ScriptedLink::Bytes answer = {0x00, 0x98, 0x00, 0x9C, 0x00, 0x40, 0x00, 0x00};
    link.At(clock.NowMs() + 998, {FLASH_ID_CODE});
    for (size_t i = 0; i < answer.size(); ++i) {
        link.At(clock.NowMs() + 999 * (i + 1), {answer[i]});
    }
    ASSERT_TRUE(loader.IdentifyFlash(text));
    EXPECT_EQ(text, "TC58FVB321");
}

TEST_F(IdentifyTest, TheEchoDoesNotRestartTheSecond) {
    link.At(clock.NowMs() + 999, {FLASH_ID_CODE});
    link.At(clock.NowMs() + 1000, {0x00, 0x98, 0x00, 0x9C, 0x00, 0x40, 0x00, 0x00});
    ASSERT_TRUE(loader.IdentifyFlash(text));
    EXPECT_EQ(text, "Flash: UNKNOWN");
}

TEST_F(IdentifyTest, ShortAnswers) {
    struct Case {
        ScriptedLink::Bytes answer;
        const char* text;
    };
    const Case cases[] = {
        {{FLASH_ID_CODE, 0x0C}, "Flash: SST39VF160"},
        {{FLASH_ID_CODE, 0x01, 0x22}, "Flash: AMD29LV200B"},
        {{FLASH_ID_CODE, 0x11}, "Flash: AT29LV32X"},
        {{FLASH_ID_CODE, 0x00}, "Flash: UNKNOWN"},
        {{FLASH_ID_CODE, 0x12}, "Flash: UNKNOWN"},
        {{FLASH_ID_CODE}, "Flash: UNKNOWN"},
        // A type byte before the echo is not an answer.
        {{0x0C}, "Flash: UNKNOWN"},
        {{}, "Flash: UNKNOWN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Answer(c.answer);
        const uint64_t start = clock.NowMs();
        EXPECT_TRUE(loader.IdentifyFlash(text));
        EXPECT_EQ(text, c.text);
        EXPECT_THAT(Logged(), IsEmpty());
        // The second runs from the last answer byte (each 1 ms apart), else from the query.
        const uint64_t lastAnswer = c.answer.size() > 1 ? c.answer.size() : 0;
        EXPECT_EQ(clock.NowMs() - start, lastAnswer + 1000);
    }
}

}  // namespace
