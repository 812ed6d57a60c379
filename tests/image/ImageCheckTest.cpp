// The verdict on an image file: damaged files are refused with what is wrong, usable ones
// list what the upload writes, read back through its records.
#include <gtest/gtest.h>

#include <set>

#include "DamagedImages.h"
#include "image/ImageCheck.h"

using namespace imagefiles;

namespace {

TEST(ImageCheckTest, DamagedFilesAreRefusedEachWithItsOwnMessage) {
    TempFolder folder;
    std::set<std::string> problems;
    const std::vector<DamagedImage> cases = MakeDamagedImages(folder);
    for (const DamagedImage& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageCheck check = CheckImageFile(c.path);
        EXPECT_FALSE(check.usable);
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_TRUE(check.sections.empty());
        problems.insert(check.problem);
    }
    EXPECT_EQ(problems.size(), cases.size());
}

struct UsableCase {
    const char* name;
    Bytes bytes;
    // per written section: its index, range and bytes as the file holds them
    struct Written {
        int index;
        uint32_t start, end;
        Bytes data;
    };
    std::vector<Written> written;
};

TEST(ImageCheckTest, UsableFilesListWhatTheRecordsCarry) {
    EXPECT_EQ(Crc32Of(ToBytes("123456789")), 0xCBF43926u);
    const Bytes whole = WholeUnion();
    auto part = [](const Bytes& b, size_t from, size_t n) {
        return Bytes(b.begin() + from, b.begin() + from + n);
    };
    const Bytes pfl = part(whole, 0, kUnionPflSize);
    const Bytes main = part(whole, 0x4000, kUnionMainSize);
    // a loader of the full 0x4000 bytes: its checksum word is where section 1 would begin
    const Bytes fullLoader = BinarySection(kPflStart, 0x4000, true, 8);
    const Bytes low = RandomBytes(0x900, 9);
    const Bytes high = RandomBytes(0x901, 10);
    // as objcopy writes it for a long output path: the name in a header line of 200 bytes
    const std::string longHeader = SLine(0, 0, Bytes(200, 'p'));
    const std::string gapped = longHeader + S3Lines(kMainStart, low, 28) +
                               S3Lines(kMainStart + 0x1000, high, 28) + SLine(9, 0);
    Bytes gapData = low;
    gapData.insert(gapData.end(), high.begin(), high.end());

    const UsableCase cases[] = {
        {"image-union file",
         whole,
         {{0, kPflStart, kPflStart + kUnionPflSize, pfl},
          {1, kMainStart, kMainStart + kUnionMainSize, main}}},
        {"image-union file padded to a flash size with erased bytes",
         Join(part(whole, 0, 0x4004 + kUnionMainSize), Bytes(0x3000, 0xFF)),
         {{0, kPflStart, kPflStart + kUnionPflSize, pfl},
          {1, kMainStart, kMainStart + kUnionMainSize, main}}},
        {"image-union file without its secondary loader",
         part(whole, 0, 0x4004 + kUnionMainSize),
         {{0, kPflStart, kPflStart + kUnionPflSize, pfl},
          {1, kMainStart, kMainStart + kUnionMainSize, main}}},
        {"loader of 0x4000 bytes alone",
         fullLoader,
         {{0, kPflStart, kPflStart + 0x4000, part(fullLoader, 0, 0x4000)}}},
        {"main firmware without its checksum word",
         BinarySection(kMainStart, 0x1000, false, 6),
         {{0, kMainStart, kMainStart + 0x1000, BinarySection(kMainStart, 0x1000, false, 6)}}},
        {"S-records with a long header, a gap and S9",
         ToBytes(gapped),
         {{0, kMainStart, kMainStart + 0x1000 + 0x901, gapData}}},
    };
    for (const UsableCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file(c.bytes);
        const ImageCheck check = CheckImageFile(file.Path());
        ASSERT_TRUE(check.usable) << check.problem;
        EXPECT_EQ(check.problem, "");
        ASSERT_EQ(check.sections.size(), c.written.size());
        for (size_t i = 0; i < c.written.size(); ++i) {
            const SectionListing& listed = check.sections[i];
            EXPECT_EQ(listed.index, c.written[i].index);
            EXPECT_EQ(listed.start, c.written[i].start);
            EXPECT_EQ(listed.end, c.written[i].end);
            EXPECT_EQ(listed.bytes, c.written[i].data.size());
            EXPECT_EQ(listed.crc, Crc32Of(c.written[i].data));
        }
    }
}

}  // namespace
