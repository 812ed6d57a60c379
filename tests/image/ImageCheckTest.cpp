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
        EXPECT_EQ(check.verdict.code(), Result::Code::ImageUnusable);
        EXPECT_EQ(check.verdict.words(), c.problem);
        EXPECT_TRUE(check.sections.empty());
        problems.insert(check.verdict.words());
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
    // what the file holds besides, that the upload does not write
    std::vector<std::string> notes;
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
    const Bytes fullLoader = BinarySection(kFlashStart, 0x4000, true, 8);
    const Bytes low = RandomBytes(0x900, 9);
    const Bytes high = RandomBytes(0x901, 10);
    // as objcopy writes it for a long output path: the name in a header line of 200 bytes
    const std::string longHeader = SLine(0, 0, Bytes(200, 'p'));
    const std::string gapped = longHeader + S3Lines(kMainStart, low, 28) +
                               S3Lines(kMainStart + 0x1000, high, 28) + SLine(9, 0);
    Bytes gapData = low;
    gapData.insert(gapData.end(), high.begin(), high.end());
    // segments listed out of address order, one zeroed in memory past its file bytes, one not
    // loaded at all
    const Bytes elf = ElfFile({{kMainStart + 0x1000, high, 1, 0x100},
                               {0x20000000, Bytes(8, 1), 4},
                               {kMainStart + 0x2000, {}, 1, 0x40},
                               {kMainStart, low}},
                              kMainStart + 1);
    // across a 64 KiB boundary, with a start address record, CRLF line ends and blank lines
    const Bytes crossing = RandomBytes(0x1000, 12);
    const std::string hex = HexRecord(5, 0, {0x10, 0x00, 0xF8, 0x01}, "\r\n") + "\r\n" +
                            HexLines(0x1000F800, crossing, 32, "\r\n") + "\r\n" +
                            HexRecord(1, 0, {}, "\r\n");

    const Bytes sflWords = part(whole, 0x4004 + kUnionMainSize, kUnionSflSize + 4);
    const UsableCase::Written pflAndMain[] = {{0, kFlashStart, kFlashStart + kUnionPflSize, pfl},
                                              {1, kMainStart, kMainStart + kUnionMainSize, main}};
    // the union with its secondary loader replaced by another tail
    auto withTail = [&](const char* kind) {
        Bytes tail;
        EXPECT_TRUE(UnionTail(kind, sflWords, tail));
        return Join(part(whole, 0, 0x4004 + kUnionMainSize), tail);
    };
    const Bytes tag = withTail("tag");
    const size_t third = 0x4004 + kUnionMainSize;
    auto word = [](const Bytes& b, size_t at) { return XorOfWords(Bytes(&b[at], &b[at + 4])); };
    const std::string unwritten = "; it is not written";
    const UsableCase cases[] = {
        {"image-union file",
         whole,
         {pflAndMain[0], pflAndMain[1]},
         {"Image section 2, secondary flash loader at 0x00201000, is not written"}},
        {"image-union file padded to a flash size with erased bytes",
         withTail("fill"),
         {pflAndMain[0], pflAndMain[1]},
         {"Image section 2 is fill bytes (0xFF) from offset 0x14004 to the end" + unwritten}},
        {"image-union file without its secondary loader",
         part(whole, 0, 0x4004 + kUnionMainSize),
         {pflAndMain[0], pflAndMain[1]},
         {}},
        {"a checksum appended to the image-union file",
         withTail("crc"),
         {pflAndMain[0], pflAndMain[1]},
         {"Image section 2 holds 4 bytes, less than a header" + unwritten}},
        {"a text tag appended to the image-union file",
         tag,
         {pflAndMain[0], pflAndMain[1]},
         {"Image section 2 has a bad header: " + Hex32(word(tag, third + 32)) + " to " +
          Hex32(word(tag, third + 36)) + " is no flash range" + unwritten}},
        {"erased bytes, then zeros after the main firmware",
         withTail("mixed-fill"),
         {pflAndMain[0], pflAndMain[1]},
         {"Image section 2 has a bad header: 0xFFFFFFFF to 0xFFFFFFFF is no flash range" +
          unwritten}},
        {"secondary loader failing its checksum",
         withTail("bad-sfl"),
         {pflAndMain[0], pflAndMain[1]},
         {"Image section 2 fails its checksum: the file says " +
          Hex32(word(sflWords, kUnionSflSize) ^ 0x40000000) + ", its bytes " +
          Hex32(word(sflWords, kUnionSflSize)) + unwritten}},
        {"secondary loader cut short",
         withTail("cut-sfl"),
         {pflAndMain[0], pflAndMain[1]},
         {"Image section 2 is cut short: 1024 of 2048 bytes" + unwritten}},
        {"primary loader alone, filled past the main firmware's place",
         Join(part(whole, 0, 0x4000), Bytes(0x1000, 0xFF)),
         {pflAndMain[0]},
         {"Image section 1 is fill bytes (0xFF) from offset 0x4000 to the end" + unwritten}},
        {"loader of 0x4000 bytes alone",
         fullLoader,
         {{0, kFlashStart, kFlashStart + 0x4000, part(fullLoader, 0, 0x4000)}},
         {}},
        {"loader of 0x4000 bytes, filled with zeros",
         Join(fullLoader, Bytes(0x2000, 0x00)),
         {{0, kFlashStart, kFlashStart + 0x4000, part(fullLoader, 0, 0x4000)}},
         {"Image section 1 is fill bytes (0x00) from offset 0x4004 to the end" + unwritten}},
        {"main firmware without its checksum word",
         BinarySection(kMainStart, 0x1000, false, 6),
         {{0, kMainStart, kMainStart + 0x1000, BinarySection(kMainStart, 0x1000, false, 6)}},
         {}},
        {"S-records with a long header, a gap and S9",
         ToBytes(gapped),
         {{0, kMainStart, kMainStart + 0x1000 + 0x901, gapData}},
         {}},
        {"ELF", elf, {{0, kMainStart, kMainStart + 0x1000 + 0x901, gapData}}, {}},
        {"Intel HEX", ToBytes(hex), {{0, 0x1000F800, 0x10010800, crossing}}, {}},
    };
    for (const UsableCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file(c.bytes);
        const ImageCheck check = CheckImageFile(file.Path());
        ASSERT_TRUE(check.verdict) << check.verdict.words();
        ASSERT_EQ(check.sections.size(), c.written.size());
        for (size_t i = 0; i < c.written.size(); ++i) {
            const SectionListing& listed = check.sections[i];
            EXPECT_EQ(listed.index, c.written[i].index);
            EXPECT_EQ(listed.start, c.written[i].start);
            EXPECT_EQ(listed.end, c.written[i].end);
            EXPECT_EQ(listed.bytes, c.written[i].data.size());
            EXPECT_EQ(listed.crc, Crc32Of(c.written[i].data));
        }
        EXPECT_EQ(check.notes, c.notes);
    }
}

}  // namespace
