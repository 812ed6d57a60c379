#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "image/ImageCheck.h"
#include "image/ImageReaders.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;

namespace {

struct Opened {
    ParsedSection section;
    bool ok = false;
};

std::unique_ptr<Opened> OpenSection(const Bytes& bytes, uint32_t offset = 0) {
    auto opened = std::make_unique<Opened>();
    auto file = std::make_shared<FileBytes>();
    file->bytes = bytes;
    ImageSource source;
    if (source.OpenBytes(file)) {
        opened->ok = ReadSection(source, offset, 0, opened->section);
    }
    return opened;
}

struct BinaryCase {
    const char* name;
    Bytes bytes;
    CrcState crc;
    uint32_t start;
    uint32_t size;
};

Bytes WithWrongChecksum() {
    Bytes bytes = BinarySection(kMainStart, 0x100, true);
    bytes.back() ^= 0x01;
    return bytes;
}

Bytes WithRange(uint32_t start, uint32_t end) {
    Bytes bytes = BinarySection(kMainStart, 0x100, false);
    Put32(bytes, 32, start);
    Put32(bytes, 36, end);
    return Join(bytes, Bytes(4, 0));
}

TEST(BinarySectionTest, ChecksumWordAndRawFallback) {
    const Bytes good = BinarySection(kMainStart, 0x100, true);
    const BinaryCase cases[] = {
        {"checksum word present", good, CrcState::Matched, kMainStart, 0x100},
        {"file ends after the data", BinarySection(kMainStart, 0x100, false),
         CrcState::NoChecksumWord, kMainStart, 0x100},
        {"trailing data after the word", Join(good, Bytes(10, 0xEE)), CrcState::Matched, kMainStart,
         0x100},
        {"size not a whole number of words",
         Join(BinarySection(kMainStart, 0x100, false), Bytes(4, 0)), CrcState::None, kFlashStart,
         0x104},
        // the raw cases: the whole file from the offset at 0x10000000
        {"checksum word wrong", WithWrongChecksum(), CrcState::None, kFlashStart, 0x104},
        {"checksum word cut short", Bytes(good.begin(), good.end() - 2), CrcState::None,
         kFlashStart, 0x102},
        {"start below 0x200000", WithRange(0x001FFFFC, 0x001FFFFC + 0x100), CrcState::None,
         kFlashStart, 0x104},
        {"end past 0x10200000", WithRange(0x10200000 - 0xFC, 0x10200004), CrcState::None,
         kFlashStart, 0x104},
        {"end not after start", WithRange(kMainStart, kMainStart), CrcState::None, kFlashStart,
         0x104},
        {"shorter than its header", Bytes(good.begin(), good.begin() + 39), CrcState::None,
         kFlashStart, 39},
        {"data shorter than the header says", Bytes(good.begin(), good.begin() + 0x80),
         CrcState::None, kFlashStart, 0x80},
    };
    for (const BinaryCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto opened = OpenSection(c.bytes);
        ASSERT_TRUE(opened->ok);
        const ParsedSection& s = opened->section;
        EXPECT_EQ(s.format, SectionFormat::Binary);
        EXPECT_EQ(s.crcState, c.crc);
        EXPECT_EQ(s.start, c.start);
        EXPECT_EQ(s.entry, c.start);
        EXPECT_EQ(s.size, c.size);
        // whole or raw, the records carry the file's bytes from its start
        const Upload upload = CollectSection(s);
        ASSERT_EQ(upload.bytes.size(), c.size);
        EXPECT_EQ(upload.bytes.begin()->second, c.bytes[0]);
    }
}

struct IdentityCase {
    const char* name;
    Bytes bytes;
    FirmwareId id;
};

TEST(IdentifyTest, LoadAddressSizeAndChecksumGiveTheIdentity) {
    const IdentityCase cases[] = {
        {"Pfl", BinarySection(kFlashStart, 0x4000, true), FirmwareId::Pfl},
        {"Pfl without checksum word", BinarySection(kFlashStart, 0x4000, false), FirmwareId::Pfl},
        {"Pfl one byte too long",
         [] {
             Bytes b = BinarySection(kFlashStart, 0x4004, false);
             Put32(b, 36, kFlashStart + 0x4001);
             return b;
         }(),
         FirmwareId::Unknown},
        {"main firmware", BinarySection(kMainStart, 0x8000, true), FirmwareId::MainFirmware},
        {"Sfl", BinarySection(kSflStart, 0x1000, true), FirmwareId::Sfl},
        {"Sfl too long", BinarySection(kSflStart, 0x1004, true), FirmwareId::Unknown},
        {"other address", BinarySection(0x10008000, 0x100, true), FirmwareId::Unknown},
        {"raw binary", Bytes(0x100, 0xAB), FirmwareId::Unknown},
        {"main firmware as S-records",
         ToBytes(SLine(0, 0) + S3Lines(kMainStart, Bytes(64, 1)) + SLine(7, kMainStart)),
         FirmwareId::MainFirmware},
        {"Sfl as S-records", ToBytes(S3Lines(kSflStart, Bytes(0x1000, 2)) + SLine(7, kSflStart)),
         FirmwareId::Sfl},
    };
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto opened = OpenSection(c.bytes);
        ASSERT_TRUE(opened->ok);
        EXPECT_EQ(opened->section.firmwareId, c.id);
    }
}

// An image-union file: Pfl at 0, main firmware at 0x4000, Sfl after the main firmware's
// checksum word.
Bytes UnionImage(uint32_t mainStart, uint32_t mainSize, const Bytes& third) {
    Bytes image = BinarySection(kFlashStart, 0x3000, true, 1);
    image.resize(0x4000, 0xFF);
    image = Join(image, BinarySection(mainStart, mainSize, true, 2));
    return Join(image, third);
}

TEST(UnionImageTest, UnionProbeFindsTheSectionsAtTheirOffsets) {
    struct Case {
        const char* name;
        Bytes bytes;
        int count;
        FirmwareId last;  // what the last section found is
    };
    const Bytes sfl = BinarySection(kSflStart, 0x800, true, 3);
    Bytes loaderThenFill = BinarySection(kFlashStart, 0x3000, true, 1);
    loaderThenFill.resize(0x5000, 0xFF);
    const Case cases[] = {
        {"three sections", UnionImage(kMainStart, 0x2000, sfl), 3, FirmwareId::Sfl},
        {"no third section", UnionImage(kMainStart, 0x2000, {}), 2, FirmwareId::MainFirmware},
        {"second not main firmware", UnionImage(0x10008000, 0x2000, sfl), 2, FirmwareId::Unknown},
        {"Pfl shorter than 0x4000", BinarySection(kFlashStart, 0x3000, true), 1, FirmwareId::Pfl},
        {"first not a Pfl",
         Join(BinarySection(kMainStart, 0x4000, false), UnionImage(kMainStart, 0x100, sfl)), 1,
         FirmwareId::Unknown},
        // fill is a raw section like any other bytes there, though it refuses nothing
        {"fill after the main firmware", UnionImage(kMainStart, 0x2000, Bytes(0x100, 0xFF)), 3,
         FirmwareId::Unknown},
        {"fill after the Pfl, past 0x4000", loaderThenFill, 2, FirmwareId::Unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = ParseBytes(c.bytes);
        const std::vector<ParsedSection>& sections = parsed->sections;
        ASSERT_EQ(sections.size(), static_cast<size_t>(c.count));
        EXPECT_EQ(sections[c.count - 1].firmwareId, c.last);
        // each section's records begin with the bytes at its offset
        const size_t offsets[] = {0, 0x4000, 0x4004 + 0x2000};
        for (int i = 0; i < c.count && sections[i].CrcOk(); ++i) {
            EXPECT_EQ(CollectSection(sections[i]).bytes.begin()->second, c.bytes[offsets[i]]);
        }
        if (c.count == 3) {
            EXPECT_EQ(sections[1].firmwareId, FirmwareId::MainFirmware);
        }
        if (c.last == FirmwareId::Sfl) {
            EXPECT_EQ(sections[2].start, kSflStart);
            // its records are the Sfl's own bytes
            Upload upload = CollectSection(sections[2]);
            ASSERT_TRUE(upload.ok);
            ASSERT_EQ(upload.bytes.size(), 0x800u);
            EXPECT_EQ(upload.bytes.begin()->first, kSflStart);
            for (uint32_t i = 0; i < 0x800; ++i) {
                ASSERT_EQ(upload.bytes[kSflStart + i], sfl[i]) << i;
            }
        }
    }
}

TEST(UnionImageTest, TheUploadWritesTheFirstSectionAndTheMainFirmware) {
    const auto image =
        ParseBytes(UnionImage(kMainStart, 0x2000, BinarySection(kSflStart, 0x800, true, 3)));
    ASSERT_EQ(image->sections.size(), 3u);
    // Pfl: written as the first section; main firmware: written; Sfl: the running loader
    EXPECT_TRUE(IsActive(*image, 0));
    EXPECT_TRUE(IsWritten(*image, 0));
    EXPECT_TRUE(IsWritten(*image, 1));
    EXPECT_FALSE(IsActive(*image, 2));
    EXPECT_FALSE(IsWritten(*image, 2));
    EXPECT_FALSE(IsWritten(*image, 3));
}

// Section 0 must lie in the flash and hold firmware of 4 KiB to 8 MiB, bounds included.
TEST(UnionImageTest, TheUploadTakesSectionZeroWithinItsBoundsOnly) {
    struct Case {
        uint32_t start, size;
        CrcState crc;
        bool taken;
    };
    const Case cases[] = {
        {0x10000000, 0x1000, CrcState::Matched, true},
        {0x10800000, 0x800000, CrcState::NoChecksumWord, true},
        {0x0FFFFFFF, 0x1000, CrcState::Matched, false},
        {0x10800001, 0x1000, CrcState::Matched, false},
        {0x10000000, 0xFFF, CrcState::Matched, false},
        {0x10000000, 0x800001, CrcState::Matched, false},
        {0x10000000, 0x1000, CrcState::None, false},
    };
    ParsedImage image;
    image.sections.resize(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.start << " " << c.size);
        ParsedSection& section = image.sections[0];
        section.start = c.start;
        section.size = c.size;
        section.crcState = c.crc;
        section.runs = {{c.start, {1}}};
        EXPECT_EQ(CheckUpload(&image).verdict.ok(), c.taken);
    }
    image.sections.clear();
    EXPECT_FALSE(CheckUpload(&image).verdict.ok());
}

// Placement by use: a run image loads wherever its file places it, a flash loader only into
// memory outside the flash it writes. Both are refused before the port opens when they are
// damaged or hold nothing to load.
TEST(LoaderPlacementTest, ALoaderIsRefusedUnlessItLoadsIntoMemory) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string problem;  // as a flash loader; empty: taken
        bool runs;            // taken as a run image
    };
    Bytes wrongChecksum = BinarySection(0x00100000, 0x80, true);
    wrongChecksum.back() ^= 0xFF;
    Bytes promisesMore = BinarySection(kSflStart, 0x100, false);
    Put32(promisesMore, 36, kSflStart + 0x1000);
    const std::string inFlash =
        " lies in the flash (0x10000000 to 0x11000000); a flash loader "
        "runs from memory outside it";
    const Case cases[] = {
        {"binary loader in memory", BinarySection(kSflStart, 0x800, true), "", true},
        {"S-records in memory", ToBytes(S3Lines(kSflStart, Bytes(40, 1)) + SLine(7, kSflStart)), "",
         true},
        {"ELF linked in memory", ElfFile({{0x20000000, Bytes(64, 2)}}, 0x20000000), "", true},
        {"Intel HEX in memory", ToBytes(HexLines(0x20000000, Bytes(64, 3)) + HexRecord(1, 0)), "",
         true},
        {"S-records in the flash",
         ToBytes(S3Lines(kMainStart, Bytes(40, 1)) + SLine(7, kMainStart)),
         "0x10004000 to 0x10004028" + inFlash, true},
        {"ELF with one segment in the flash",
         ElfFile({{0x20000000, Bytes(64, 2)}, {0x10FFFFF0, Bytes(32, 2)}}, 0x20000000),
         "0x10FFFFF0 to 0x11000010" + inFlash, true},
        {"a header that no checked section accepts", wrongChecksum,
         "Image file is not an image-union file, a binary section, S-records, ELF or Intel HEX",
         false},
        {"a header that promises more than the file holds", promisesMore,
         "Image section 0 is cut short: 256 of 4096 bytes", false},
        {"S-records without a termination line", ToBytes(S3Lines(0x3000, Bytes(20, 1))),
         "S-record file has no termination record", false},
        {"fewer bytes than a header", Bytes(20, 0),
         "Image section 0 is cut short: 20 bytes, less than its header", false},
        {"ELF wrapping past the top of memory", ElfFile({{0xFFFFFF00, Bytes(0x200, 1)}}, 0),
         "its bytes at 0xFFFFFF00 run past the end of memory", false},
        {"S-records without data", ToBytes(SLine(0, 0) + SLine(9, 0)),
         "holds no section with a header or an address", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = ParseBytes(c.bytes);
        EXPECT_EQ(LoaderProblem(*image), c.problem);
        EXPECT_EQ(CheckRun(image.get()).verdict.ok(), c.runs);
    }
}

struct ScanCase {
    const char* name;
    std::string text;
    bool isSRecord;
    uint32_t start;
    uint32_t size;
    uint32_t entry;
};

TEST(ScanSRecordsTest, ExtentAndEntry) {
    const std::string s0 = SLine(0, 0);
    const ScanCase cases[] = {
        // the size reaches the end of the last line's data: 3 lines of 16 bytes are 48
        {"consecutive lines", s0 + S3Lines(kMainStart, Bytes(48, 1)) + SLine(7, kMainStart + 8),
         true, kMainStart, 48, kMainStart + 8},
        {"highest line not the one ending highest",
         SLine(3, 0x100, Bytes(30, 1)) + SLine(3, 0x110, Bytes(4, 2)) + SLine(7, 0), true, 0x100,
         30, 0},
        {"lines out of order",
         SLine(3, 0x200, Bytes(8, 1)) + SLine(3, 0x100, Bytes(8, 2)) + SLine(7, 0x100), true, 0x100,
         0x108, 0x100},
        // a file cut at a line end: refused by the image, see the reader below
        {"no termination line", S3Lines(0x3000, Bytes(20, 1)), false, 0, 0, 0},
        {"S8 ends it, junk after it", S3Lines(0x3000, Bytes(20, 1)) + SLine(8, 0) + "junk\n", true,
         0x3000, 20, 0x3000},
        {"S1 and S2 lines do not count",
         SLine(1, 0x10, {1}) + SLine(2, 0x20000, {2}) + SLine(3, 0x5000, {3}) + SLine(7, 0), true,
         0x5000, 1, 0},
        {"S0, S7 and S9 only", s0 + SLine(7, 0x1234) + SLine(9, 0), true, 0xFFFFFFFF, 1, 0x1234},
        {"garbage after S7", S3Lines(0x3000, Bytes(20, 1)) + SLine(7, 0x3000) + "\x01\x02junk\n",
         true, 0x3000, 20, 0x3000},
        {"bad line before S7", S3Lines(0x3000, Bytes(20, 1)) + "S3junk\n" + SLine(7, 0x3000), false,
         0, 0, 0},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto opened = OpenSection(ToBytes(c.text));
        ASSERT_TRUE(opened->ok);
        const ParsedSection& s = opened->section;
        if (!c.isSRecord) {
            // taken for a raw binary
            EXPECT_EQ(s.format, SectionFormat::Binary);
            EXPECT_EQ(s.crcState, CrcState::None);
            continue;
        }
        EXPECT_EQ(s.format, SectionFormat::SRecord);
        EXPECT_EQ(s.crcState, CrcState::Matched);
        EXPECT_EQ(s.start, c.start);
        EXPECT_EQ(s.size, c.size);
        EXPECT_EQ(s.entry, c.entry);
    }
    ImageSource closed;
    ParsedSection section;
    EXPECT_FALSE(SRecordReader().Read(closed, 0, 0, section));
}

// The upload sends the bytes parsed when the request was formed, whatever the file holds now.
TEST(ScanSRecordsTest, TheRecordsAreTheParsedBytesNotTheFilesLater) {
    const Bytes data = RandomBytes(3000, 3);
    TempFile file(S3Lines(kMainStart, data, 30) + SLine(7, kMainStart));
    std::shared_ptr<const FileBytes> read;
    ASSERT_TRUE(ReadImageFile(file.Path(), read));
    const auto image = ParseImage(read);
    file.Write(ToBytes(S3Lines(kMainStart, data, 30).substr(0, 500) + "S3\n"));
    const Upload upload = CollectSection(image->sections.at(0));
    ASSERT_EQ(upload.bytes.size(), data.size());
    EXPECT_EQ(upload.bytes.rbegin()->second, data.back());
}

// The erase range is start..start + size; every programmed byte must lie inside it, or it is
// programmed over old data.
TEST(ScanSRecordsTest, EraseRangeCoversEveryProgrammedByte) {
    const std::string texts[] = {
        S3Lines(kMainStart, RandomBytes(1000, 4), 30) + SLine(7, kMainStart),
        SLine(3, 0x100, Bytes(30, 1)) + SLine(3, 0x110, Bytes(4, 2)),
        SLine(3, 0x2000, Bytes(5, 1)) + S3Lines(0x1000, RandomBytes(77, 5), 16),
    };
    for (const std::string& text : texts) {
        auto opened = OpenSection(ToBytes(text));
        ASSERT_TRUE(opened->ok);
        const ParsedSection& s = opened->section;
        Upload upload = CollectSection(s);
        ASSERT_TRUE(upload.ok);
        ASSERT_FALSE(upload.bytes.empty());
        EXPECT_EQ(upload.bytes.begin()->first, s.start);
        EXPECT_EQ(upload.bytes.rbegin()->first, s.start + s.size - 1);
    }
}

// The same firmware as ELF segments or Intel HEX lines goes out in exactly the records of its
// S-record file: runs of up to 2048 consecutive addresses, across lines and segments.
TEST(LoadedSectionTest, ElfAndHexSendTheRecordsOfTheSameSRecords) {
    struct Piece {
        uint32_t offset;  // from kMainStart
        size_t size;
    };
    const std::vector<Piece> layouts[] = {
        {{0, 5001}},
        {{3, 100}, {0x1000, 4097}},
        {{0, 2000}, {2000, 100}, {2100, 3000}},
    };
    uint32_t seed = 40;
    for (const std::vector<Piece>& layout : layouts) {
        SCOPED_TRACE(layout.size());
        std::string srec = SLine(0, 0);
        std::string hex;
        std::vector<ElfSegment> segments;
        for (const Piece& piece : layout) {
            const Bytes bytes = RandomBytes(piece.size, ++seed);
            srec += S3Lines(kMainStart + piece.offset, bytes, 28);
            hex += HexLines(kMainStart + piece.offset, bytes);
            segments.push_back({kMainStart + piece.offset, bytes});
        }
        auto records = [](const Bytes& file, SectionFormat format) {
            auto opened = OpenSection(file);
            EXPECT_TRUE(opened->ok);
            EXPECT_EQ(opened->section.format, format);
            std::vector<std::pair<uint32_t, Bytes>> sent;
            const Upload upload = CollectSection(opened->section);
            EXPECT_TRUE(upload.ok);
            for (const ParsedFrame& frame : upload.records) {
                sent.emplace_back(frame.address, frame.data);
            }
            return sent;
        };
        const auto expected = records(ToBytes(srec + SLine(7, kMainStart)), SectionFormat::SRecord);
        EXPECT_EQ(records(ElfFile(segments, kMainStart), SectionFormat::Elf), expected);
        EXPECT_EQ(records(ToBytes(hex + HexRecord(1, 0)), SectionFormat::IntelHex), expected);
    }
}

}  // namespace
