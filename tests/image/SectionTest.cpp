#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "image/FirmwareImage.h"
#include "image/Section.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;

namespace {

struct Opened {
    std::unique_ptr<TempFile> file;
    ImageSource source;
    std::unique_ptr<ImageSection> section = std::make_unique<ImageSection>();
    bool ok = false;
};

std::unique_ptr<Opened> OpenSection(const Bytes& bytes, uint32_t offset = 0) {
    auto opened = std::make_unique<Opened>();
    opened->file = std::make_unique<TempFile>(bytes);
    if (opened->source.OpenFile(opened->file->Path())) {
        opened->ok = opened->section->Open(opened->source, offset);
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
        const ImageSection& s = *opened->section;
        EXPECT_EQ(s.format, SectionFormat::Binary);
        EXPECT_EQ(s.crcState, c.crc);
        EXPECT_EQ(s.start, c.start);
        EXPECT_EQ(s.entry, c.start);
        EXPECT_EQ(s.size, c.size);
        EXPECT_EQ(s.fileOffset, 0u);
    }
}

struct IdentityCase {
    const char* name;
    Bytes bytes;
    FirmwareId id;
    bool belowMain;
};

TEST(IdentifyTest, LoadAddressSizeAndChecksumGiveTheIdentity) {
    const IdentityCase cases[] = {
        {"Pfl", BinarySection(kFlashStart, 0x4000, true), FirmwareId::Pfl, true},
        {"Pfl without checksum word", BinarySection(kFlashStart, 0x4000, false), FirmwareId::Pfl,
         true},
        {"Pfl one byte too long",
         [] {
             Bytes b = BinarySection(kFlashStart, 0x4004, false);
             Put32(b, 36, kFlashStart + 0x4001);
             return b;
         }(),
         FirmwareId::Unknown, true},
        {"main firmware", BinarySection(kMainStart, 0x8000, true), FirmwareId::MainFirmware, false},
        {"Sfl", BinarySection(kSflStart, 0x1000, true), FirmwareId::Sfl, true},
        {"Sfl too long", BinarySection(kSflStart, 0x1004, true), FirmwareId::Unknown, true},
        {"other address", BinarySection(0x10008000, 0x100, true), FirmwareId::Unknown, false},
        {"raw binary", Bytes(0x100, 0xAB), FirmwareId::Unknown, true},
        {"main firmware as S-records",
         ToBytes(SLine(0, 0) + S3Lines(kMainStart, Bytes(64, 1)) + SLine(7, kMainStart)),
         FirmwareId::MainFirmware, false},
        {"Sfl as S-records", ToBytes(S3Lines(kSflStart, Bytes(0x1000, 2)) + SLine(7, kSflStart)),
         FirmwareId::Sfl, true},
    };
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto opened = OpenSection(c.bytes);
        ASSERT_TRUE(opened->ok);
        EXPECT_EQ(opened->section->firmwareId, c.id);
        EXPECT_EQ(opened->section->belowMain, c.belowMain);
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

TEST(FirmwareImageTest, UnionProbeFindsTheSectionsAtTheirOffsets) {
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
        TempFile file(c.bytes);
        FirmwareImage image;
        ASSERT_TRUE(image.Open(file.Path()));
        image.LoadSections();
        ASSERT_EQ(image.count, c.count);
        EXPECT_EQ(image.sections[c.count - 1].firmwareId, c.last);
        EXPECT_EQ(image.sections[0].fileOffset, 0u);
        if (c.count >= 2) {
            EXPECT_EQ(image.sections[1].fileOffset, 0x4000u);
        }
        if (c.count == 3) {
            EXPECT_EQ(image.sections[1].firmwareId, FirmwareId::MainFirmware);
            EXPECT_EQ(image.sections[2].fileOffset, 0x4004u + 0x2000);
        }
        if (c.last == FirmwareId::Sfl) {
            EXPECT_EQ(image.sections[2].start, kSflStart);
            // its records are the Sfl's own bytes
            Upload upload = CollectSection(image.sections[2], image.source);
            ASSERT_TRUE(upload.ok);
            ASSERT_EQ(upload.bytes.size(), 0x800u);
            EXPECT_EQ(upload.bytes.begin()->first, kSflStart);
            for (uint32_t i = 0; i < 0x800; ++i) {
                ASSERT_EQ(upload.bytes[kSflStart + i], sfl[i]) << i;
            }
        }
    }
}

TEST(FirmwareImageTest, ActiveFlagsFollowTheIdentityAndSurviveReloading) {
    TempFile file(UnionImage(kMainStart, 0x2000, BinarySection(kSflStart, 0x800, true, 3)));
    FirmwareImage image;
    ASSERT_TRUE(image.Open(file.Path()));
    image.LoadSections();
    ASSERT_EQ(image.count, 3);
    image.MarkActiveSections();
    // Pfl: not programmed; main firmware: programmed; Sfl: below the main firmware
    EXPECT_FALSE(image.sections[0].active);
    EXPECT_TRUE(image.sections[1].active);
    EXPECT_FALSE(image.sections[2].active);
    for (const ImageSection& s : image.sections) {
        EXPECT_TRUE(s.skipBootReload);
    }
    image.sections[0].active = 1;
    image.sections[0].skipBootReload = 0;
    image.LoadSections();
    EXPECT_TRUE(image.sections[0].active);
    EXPECT_FALSE(image.sections[0].skipBootReload);
}

// Section 0 must lie in the flash and hold firmware of 4 KiB to 8 MiB, bounds included.
TEST(FirmwareImageTest, TheUploadTakesSectionZeroWithinItsBoundsOnly) {
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
    FirmwareImage image;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.start << " " << c.size);
        image.count = 1;
        image.sections[0].start = c.start;
        image.sections[0].size = c.size;
        image.sections[0].crcState = c.crc;
        EXPECT_EQ(image.UploadProblem().empty(), c.taken);
    }
    image.count = 0;  // what an earlier image left in section 0 does not count
    EXPECT_FALSE(image.UploadProblem().empty());
}

TEST(SectionReaderTest, TakesHeadersAtFaceValue) {
    // a wrong checksum and an address no checked section accepts
    Bytes bytes = BinarySection(0x00100000, 0x80, true);
    bytes.back() ^= 0xFF;
    TempFile file(bytes);
    ImageSource source;
    ASSERT_TRUE(source.OpenFile(file.Path()));
    SectionReader reader;
    reader.entry = 0x1234;
    ASSERT_TRUE(reader.Open(source, 0));
    EXPECT_EQ(reader.format, SectionFormat::Binary);
    EXPECT_EQ(reader.start, 0x00100000u);
    EXPECT_EQ(reader.size, 0x80u);
    EXPECT_EQ(reader.entry, 0x1234u);
    EXPECT_EQ(reader.crcState, CrcState::None);
    Upload upload = CollectSection(reader, source);
    ASSERT_TRUE(upload.ok);
    EXPECT_EQ(upload.bytes.size(), 0x80u);

    // no raw fallback
    TempFile shortFile(Bytes(20, 0));
    ASSERT_TRUE(source.OpenFile(shortFile.Path()));
    EXPECT_FALSE(reader.Open(source, 0));
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
        const ImageSection& s = *opened->section;
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
    SectionReader reader;
    EXPECT_FALSE(reader.ScanSRecords(closed));

    // Loader images keep being taken without a termination line: the entry is the start.
    TempFile unterminated(S3Lines(0x3000, Bytes(20, 1)));
    ImageSource source;
    ASSERT_TRUE(source.OpenFile(unterminated.Path()));
    ASSERT_TRUE(reader.Open(source, 0));
    EXPECT_EQ(reader.format, SectionFormat::SRecord);
    EXPECT_EQ(reader.entry, 0x3000u);
}

// A file that changed between its check and its upload must not end a section early.
TEST(ScanSRecordsTest, AnUploadThatMissesTheTerminationLineFails) {
    const std::string lines = S3Lines(kMainStart, RandomBytes(3000, 3), 30);
    TempFile file(lines + SLine(7, kMainStart));
    ImageSource source;
    ASSERT_TRUE(source.OpenFile(file.Path()));
    ImageSection section;
    ASSERT_TRUE(section.Open(source, 0));
    ASSERT_EQ(section.format, SectionFormat::SRecord);
    EXPECT_TRUE(CollectSection(section, source).ok);
    for (const std::string& changed : {lines, lines.substr(0, 500) + "S3\n"}) {
        // the section as scanned before, its records read from other bytes
        file.Write(ToBytes(changed));
        ASSERT_TRUE(source.OpenFile(file.Path()));
        EXPECT_FALSE(CollectSection(section, source).ok);
    }
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
        ImageSection& s = *opened->section;
        Upload upload = CollectSection(s, opened->source);
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
            EXPECT_EQ(opened->section->format, format);
            std::vector<std::pair<uint32_t, Bytes>> sent;
            const Upload upload = CollectSection(*opened->section, opened->source);
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
