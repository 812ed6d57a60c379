#pragma once
// Image files as they arrive damaged (cut short, flipped bits, stray bytes), and what their
// refusal must say. Shared by the layers that must each refuse them.
#include <filesystem>
#include <string>
#include <vector>

#include "testkit/ImageFiles.h"

namespace imagefiles {

constexpr uint32_t kUnionPflSize = 0x2000;
constexpr uint32_t kUnionMainSize = 0x10000;
constexpr uint32_t kUnionSflSize = 0x800;

// Loader at 0, main firmware at 0x4000, secondary loader after the main firmware's checksum.
inline Bytes WholeUnion() {
    Bytes file = BinarySection(kFlashStart, kUnionPflSize, true, 1);
    file.resize(0x4000, 0xFF);
    file = Join(file, BinarySection(kMainStart, kUnionMainSize, true, 2));
    return Join(file, BinarySection(kSflStart, kUnionSflSize, true, 3));
}

// An S-record file of `lines` lines of 16 bytes at the main firmware, header and end line.
inline std::string SRecordFile(size_t lines) {
    return SLine(0, 0, ToBytes("image")) + S3Lines(kMainStart, RandomBytes(lines * 16, 4)) +
           SLine(7, kMainStart);
}

// Where line n (from 1) of the text begins.
inline size_t LineStart(const std::string& text, int n) {
    size_t at = 0;
    for (int i = 1; i < n; ++i) {
        at = text.find('\n', at) + 1;
    }
    return at;
}

struct DamagedImage {
    std::string name;
    std::string path;
    std::string problem;
    // Refused by reading the file at all, not only by what a flash upload takes.
    bool readRefuses = true;
};

// The damaged files, written into folder.
inline std::vector<DamagedImage> MakeDamagedImages(const TempFolder& folder) {
    std::vector<DamagedImage> cases;
    auto add = [&](const std::string& name, const Bytes& bytes, const std::string& problem,
                   bool readRefuses = true) {
        const std::string path = folder.PathOf("image" + std::to_string(cases.size()));
        TempFile::WriteFile(path, bytes);
        cases.push_back({name, path, problem, readRefuses});
    };
    const Bytes whole = WholeUnion();
    auto cut = [&](size_t at) { return Bytes(whole.begin(), whole.begin() + at); };
    const size_t mainEnd = 0x4000 + kUnionMainSize;

    add("union cut inside section 0", cut(0x1000),
        "Image section 0 is cut short: 4096 of 8192 bytes");
    add("union cut inside section 1", cut(0x4000 + 24576),
        "Image section 1 is cut short: 24576 of 65536 bytes");
    add("union cut inside the header of section 1", cut(0x4000 + 20),
        "Image section 1 is cut short: 20 bytes, less than its header");
    add("union cut inside the checksum word of section 1", cut(mainEnd + 2),
        "Image section 1 is cut short: 65538 of 65540 bytes");
    {
        Bytes flipped = whole;
        flipped[mainEnd] ^= 0x01;
        const Bytes main(whole.begin() + 0x4000, whole.begin() + mainEnd);
        add("checksum word of section 1 flipped", flipped,
            "Image section 1 fails its checksum: the file says " + Hex32(XorOfWords(main) ^ 0x01) +
                ", its bytes " + Hex32(XorOfWords(main)));
    }
    {
        Bytes moved = BinarySection(kFlashStart, kUnionPflSize, true, 1);
        moved.resize(0x4000, 0xFF);
        moved = Join(moved, BinarySection(kMainStart + 0x1000, kUnionMainSize, true, 2));
        add("section 1 is not the main firmware", moved,
            "Image section 1 is not main firmware: it starts at 0x10005000, not 0x10004000");
    }
    {
        Bytes badHeader = whole;
        Put32(badHeader, 32, 0);
        add("bad header of section 0", badHeader,
            "Image section 0 has a bad header: 0x00000000 to 0x10002000 is no flash range");
    }
    {
        Bytes empty = RandomBytes(48, 5);
        Put32(empty, 32, kMainStart);
        Put32(empty, 36, kMainStart);
        add("binary section of 0 bytes", empty,
            "Image section 0 has a bad header: 0x10004000 to 0x10004000 is no flash range");
    }
    {
        std::string text = SRecordFile(300);
        text.resize(text.rfind("S7"));
        add("S-records without a termination record", ToBytes(text),
            "S-record file has no termination record");
    }
    {
        std::string text = SRecordFile(300);
        char& digit = text[LineStart(text, 6) - 2];
        digit = digit == '0' ? '1' : '0';
        add("bad checksum on line 5", ToBytes(text), "S-record line 5: bad checksum");
    }
    {
        std::string text = SRecordFile(300);
        text[LineStart(text, 3) + 20] = 'G';
        add("non-hex on line 3", ToBytes(text), "S-record line 3: not a hex digit");
    }
    add("S-record data line over 78 characters",
        ToBytes(SLine(0, 0) + SLine(3, kMainStart, Bytes(32, 1)) + SLine(7, kMainStart)),
        "S-record line 2: line too long");
    const Bytes firmware = RandomBytes(0x1800, 11);
    const Bytes elf = ElfFile({{kMainStart, firmware}}, kMainStart);
    const std::string elfTaken = "; the device takes 32-bit little-endian ARM ELF files";
    // the segment's bytes follow the 52-byte header and one 32-byte program header
    add("ELF cut inside its segment", Bytes(elf.begin(), elf.begin() + 0x1000),
        "ELF segment 0 is cut short: its bytes end at byte 6228, the file at byte 4096");
    add("64-bit ELF", ElfFile({{kMainStart, firmware}}, kMainStart, {2, 1, 40}),
        "ELF file is 64-bit" + elfTaken);
    add("ELF for another machine", ElfFile({{kMainStart, firmware}}, kMainStart, {1, 1, 62}),
        "ELF file is for machine 62 (x86-64), not ARM" + elfTaken);
    add("ELF data segment left in RAM",
        ElfFile({{kMainStart, firmware}, {0x00200000, Bytes(0x40, 1)}}, kMainStart),
        "ELF segment 1 (0x00200000 to 0x00200040) lies outside the flash (0x10000000 to "
        "0x11000000)");
    add("ELF segment that wraps past the top of memory",
        ElfFile({{kMainStart, firmware}, {0xFFFFFF00, Bytes(0x200, 1)}}, kMainStart),
        "ELF segment 1 (0xFFFFFF00 to 0x100000100) lies outside the flash (0x10000000 to "
        "0x11000000)");
    add("ELF segments that overlap",
        ElfFile({{kMainStart, firmware}, {kMainStart + 0x1000, Bytes(0x10, 1)}}, kMainStart),
        "ELF segments 0 and 1 overlap at 0x10005000");
    const std::string hex = HexLines(kMainStart, firmware) + HexRecord(1, 0);
    {
        std::string text = hex;
        char& digit = text[LineStart(text, 4) - 2];
        digit = digit == '0' ? '1' : '0';
        add("Intel HEX with a bad checksum on line 3", ToBytes(text),
            "Intel HEX line 3: bad checksum");
    }
    add("Intel HEX without its end-of-file record", ToBytes(hex.substr(0, hex.rfind(':'))),
        "Intel HEX file has no end-of-file record");
    // an extended address record, 384 data records and the end-of-file record
    add("two Intel HEX files joined", ToBytes(hex + hex),
        "Intel HEX line 387: a record after the end-of-file record");
    add("Intel HEX in 20-bit segments",
        ToBytes(HexRecord(2, 0, {0xF0, 0x00}) + HexRecord(0, 0, Bytes(16, 1)) + HexRecord(1, 0)),
        "Intel HEX line 2: data at 0x000F0000 lies outside the flash (0x10000000 to "
        "0x11000000)");
    add("a text file", ToBytes("Release notes for the firmware, version 4.10.\n"),
        "Image file is not an image-union file, a binary section, S-records, ELF or Intel HEX");
    add("S-records with no data", ToBytes(SLine(0, 0) + SLine(9, 0)),
        "No firmware to program in " + folder.PathOf("image" + std::to_string(cases.size())),
        false);
    add("firmware too small", ToBytes(SRecordFile(6)),
        "Image section 0 holds 96 bytes; firmware holds 4096 to 8388608", false);
    add("section outside the flash", BinarySection(kSflStart, 0x800, true),
        "Image section 0 starts at 0x00201000, outside the flash (0x10000000 to 0x10800000)",
        false);
    add("empty file", Bytes{},
        "Image file is empty: " + folder.PathOf("image" + std::to_string(cases.size())));

    const std::string dir = folder.PathOf("folder");
    std::filesystem::create_directories(dir);
    cases.push_back({"a folder", dir, "Image file is a folder: " + dir});
    const std::string missing = folder.PathOf("missing");
    cases.push_back({"a missing file", missing, "Image file not found: " + missing});
    const std::string tooLong = folder.PathOf(std::string(520, 'x'));
    cases.push_back({"a path over 511 characters", tooLong,
                     "Image file path is too long: " + std::to_string(tooLong.size()) +
                         " characters, at most 511"});
    return cases;
}

}  // namespace imagefiles
