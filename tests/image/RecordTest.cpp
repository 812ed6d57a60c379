#include <gtest/gtest.h>

#include <memory>

#include "image/ImageCheck.h"
#include "image/SfldRecord.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;

namespace {

Bytes FrameOf(const SfldRecord& record) {
    return Bytes(record.frame, record.frame + record.length);
}

TEST(SfldRecordTest, FixedFrames) {
    auto record = std::make_unique<SfldRecord>();
    record->MakeErase(kMainStart, 0x10100000);
    EXPECT_EQ(FrameOf(*record), (Bytes{0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x10, 0x10, 0x00,
                                       0x00, 0x40, 0x10, 0x5D}));
    EXPECT_EQ(record->address, 0x10004000u);

    record->MakeEnd();
    EXPECT_EQ(FrameOf(*record), (Bytes{0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D}));
    EXPECT_EQ(record->address, 0u);

    // odd byte count: one pad byte, counted in N and in the checksum
    record->Begin();
    const uint8_t three[] = {0x01, 0x02, 0x03};
    EXPECT_FALSE(record->Append(kMainStart, 3, three));
    record->Finish();
    EXPECT_EQ(record->dataCount, 3);
    EXPECT_EQ(FrameOf(*record), (Bytes{0x5B, 0x00, 0x04, 0x10, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03,
                                       0x00, 0x52, 0x02, 0x5D}));
    // even count: no pad
    record->Begin();
    const uint16_t values[] = {0x1101, 0xFF02};  // only the low bytes are data
    EXPECT_FALSE(record->Append(0x00000002, 2, values));
    record->Finish();
    EXPECT_EQ(FrameOf(*record),
              (Bytes{0x5B, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x01, 0x02, 0x01, 0x00, 0x5D}));
}

TEST(SfldRecordTest, AppendClosesTheRecordWhenFullOrNotFollowingOn) {
    auto record = std::make_unique<SfldRecord>();
    const Bytes block = RandomBytes(3000, 9);
    struct Step {
        uint32_t at;
        uint16_t count;
        bool full;
        uint16_t dataCount;
        uint8_t carryPending;
        uint32_t carryAddress;
        uint16_t carryCount;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"exactly 2048: full without carry", {{0x100, 2048, true, 2048, 0, 0, 0}}},
        {"2040 then 30: 8 fit, 22 carried",
         {{0x100, 2040, false, 2040, 0, 0, 0}, {0x100 + 2040, 30, true, 2048, 1, 0x900, 22}}},
        {"gap: carried whole",
         {{0x100, 10, false, 10, 0, 0, 0}, {0x200, 5, true, 10, 1, 0x200, 5}}},
        {"gap without data: closes, nothing carried",
         {{0x100, 10, false, 10, 0, 0, 0}, {0x200, 0, true, 10, 0, 0, 0}}},
        {"after full: carried whole",
         {{0x100, 2048, true, 2048, 0, 0, 0}, {0x900, 4, true, 2048, 1, 0x900, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        record->Begin();
        record->carryPending = 1;  // cleared when the record starts
        uint32_t offset = 0;
        for (const Step& step : c.steps) {
            EXPECT_EQ(record->Append(step.at, step.count, block.data() + offset), step.full);
            EXPECT_EQ(record->dataCount, step.dataCount);
            EXPECT_EQ(record->carryPending, step.carryPending);
            if (step.carryPending) {
                EXPECT_EQ(record->carryAddress, step.carryAddress);
                ASSERT_EQ(record->carryCount, step.carryCount);
                const uint32_t carriedFrom = offset + step.count - step.carryCount;
                for (uint16_t i = 0; i < step.carryCount; ++i) {
                    ASSERT_EQ(record->carryData[i], block[carriedFrom + i]);
                }
            }
            offset += step.count;
        }
        EXPECT_EQ(record->address, c.steps[0].at);
        record->Finish();
        ParsedFrame parsed;
        ASSERT_TRUE(ParseFrame(*record, parsed));
        EXPECT_EQ(parsed.data, Bytes(block.begin(), block.begin() + record->dataCount));
    }
}

struct SRecordFile {
    explicit SRecordFile(const std::string& text) : image(ParseBytes(ToBytes(text))) {}
    Upload Records() const { return CollectSection(image->sections.at(0)); }
    std::shared_ptr<const ParsedImage> image;
};

TEST(SRecordSectionTest, RecordsFollowLinesAndCarry) {
    const Bytes data = RandomBytes(70 * 30, 11);
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::pair<uint32_t, size_t>> records;  // address, data bytes
    };
    const Case cases[] = {
        // 68 lines give 2040 bytes; 8 bytes of line 69 complete the record, 22 open the next
        {"68-line carry split",
         SLine(0, 0) + S3Lines(kMainStart, data, 30) + SLine(7, kMainStart),
         {{kMainStart, 2048}, {kMainStart + 2048, 70 * 30 - 2048}}},
        {"gap closes a record",
         S3Lines(kMainStart, Bytes(data.begin(), data.begin() + 60), 30) +
             S3Lines(kMainStart + 0x1000, Bytes(data.begin() + 60, data.begin() + 90), 30) +
             SLine(7, kMainStart),
         {{kMainStart, 60}, {kMainStart + 0x1000, 30}}},
        {"S1 and S2 lines are skipped",
         SLine(1, 0x10, {1, 2}) + S3Lines(kMainStart, Bytes(data.begin(), data.begin() + 40), 20) +
             SLine(2, 0x20, {3}) + SLine(7, kMainStart),
         {{kMainStart, 40}}},
        {"S0, S7 and S9 only", SLine(0, 0) + SLine(7, 0) + SLine(9, 0), {}},
        // an empty line must not end the section before the data that follows it
        {"S3 line without data first",
         SLine(3, kFlashStart) + S3Lines(kMainStart, Bytes(data.begin(), data.begin() + 16)) +
             SLine(9, 0),
         {{kMainStart, 16}}},
        // the section's data ends at a bad line, even after the scan has seen S7
        {"bad line after S7",
         S3Lines(kMainStart, Bytes(data.begin(), data.begin() + 32)) + SLine(7, kMainStart) +
             "garbage\n" + S3Lines(kMainStart + 32, Bytes(data.begin() + 32, data.begin() + 48)),
         {{kMainStart, 32}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SRecordFile file(c.text);
        ASSERT_EQ(file.image->sections.size(), 1u);
        ASSERT_EQ(file.image->sections[0].format, SectionFormat::SRecord);
        Upload upload = file.Records();
        ASSERT_TRUE(upload.ok);
        ASSERT_EQ(upload.records.size(), c.records.size());
        size_t taken = 0;
        for (size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ(upload.records[i].address, c.records[i].first);
            ASSERT_EQ(upload.records[i].data.size(), c.records[i].second);
            EXPECT_EQ(upload.records[i].data,
                      Bytes(data.begin() + taken, data.begin() + taken + c.records[i].second));
            taken += c.records[i].second;
        }
        // a second pass gives the same records
        Upload again = file.Records();
        EXPECT_EQ(again.bytes, upload.bytes);
    }
}

TEST(SRecordSectionTest, LeftOverCarryOfAStoppedUploadDoesNotLeak) {
    SRecordFile file(S3Lines(0x1000, RandomBytes(2100, 3), 30) + SLine(7, 0x1000));
    SfldRecord record;
    SectionRecords(file.image->sections.at(0)).Next(record);
    ASSERT_EQ(record.dataCount, 2048);  // the upload stops here, half-way through a line
    SRecordFile other(SLine(0, 0) + SLine(7, 0));
    SectionRecords records(other.image->sections.at(0));
    records.Next(record);
    EXPECT_EQ(record.dataCount, 0);
    records.Next(record);
    EXPECT_EQ(record.dataCount, 0);
}

TEST(BinarySectionRecordsTest, BlocksOf2048FromTheHeaderOnUpToTheSize) {
    const Bytes section = BinarySection(kMainStart, 5000, true);
    // bytes after the checksum word must not be sent
    const auto image = ParseBytes(Join(section, Bytes(100, 0xEE)));
    ASSERT_EQ(image->sections.size(), 1u);
    Upload upload = CollectSection(image->sections[0]);
    ASSERT_TRUE(upload.ok);
    ASSERT_EQ(upload.records.size(), 3u);
    EXPECT_EQ(upload.records[0].address, kMainStart);
    EXPECT_EQ(upload.records[1].address, kMainStart + 2048);
    EXPECT_EQ(upload.records[2].address, kMainStart + 4096);
    EXPECT_EQ(upload.records[2].data.size(), 5000u - 4096);
    ASSERT_EQ(upload.bytes.size(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(upload.bytes[kMainStart + i], section[i]) << i;
    }
}

}  // namespace
