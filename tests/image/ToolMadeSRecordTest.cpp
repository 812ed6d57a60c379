// Image files made by independent tools (binutils' objcopy and the ARM linker, srecord's
// srec_cat), as S-records, Intel HEX or ELF, must read back into exactly the bytes they were
// made from, cut into records as an S-record file's are.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/FormatText.h"
#include "image/ImageCheck.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;

namespace {

constexpr uint32_t kBase = 0x10004000;

struct Chunk {
    uint32_t offset;  // from kBase
    size_t size;
};

struct Layout {
    const char* name;
    std::vector<Chunk> chunks;
};

const Layout kLayouts[] = {
    {"one byte", {{0, 1}}},
    {"one line", {{0, 16}}},
    {"2047", {{0, 2047}}},
    {"2048", {{0, 2048}}},
    {"2049", {{0, 2049}}},
    {"70000", {{0, 70000}}},
    {"odd start and a gap", {{3, 100}, {0x1000, 4097}}},
    {"three pieces", {{0, 2048}, {2048 + 13, 31}, {0x20000, 999}}},
};

bool HaveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

struct Made {
    std::map<uint32_t, uint8_t> expected;
    std::vector<std::string> inputs;
};

Made MakeInputs(const Layout& layout, const TempFile& dir, uint32_t seed) {
    Made made;
    for (size_t i = 0; i < layout.chunks.size(); ++i) {
        const Chunk& chunk = layout.chunks[i];
        Bytes bytes = RandomBytes(chunk.size, seed + static_cast<uint32_t>(i));
        std::string path = (dir.Dir() / ("chunk" + std::to_string(i) + ".bin")).string();
        TempFile::WriteFile(path, bytes);
        made.inputs.push_back(path);
        for (size_t k = 0; k < bytes.size(); ++k) {
            made.expected[kBase + chunk.offset + static_cast<uint32_t>(k)] = bytes[k];
        }
    }
    return made;
}

std::string Address(uint32_t offset) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", kBase + offset);
    return text;
}

std::string Objcopy(const char* format, const Layout& layout, const Made& made,
                    const std::string& out) {
    std::string command = "objcopy -I binary -O " + std::string(format) + " --change-addresses " +
                          Address(layout.chunks[0].offset);
    for (size_t i = 1; i < layout.chunks.size(); ++i) {
        std::string name = ".piece" + std::to_string(i);
        command.append(" --add-section ").append(name).append("=").append(Quote(made.inputs[i]));
        command.append(" --set-section-flags ").append(name).append("=alloc,load,contents,data");
        command.append(" --change-section-address ")
            .append(name)
            .append("=")
            .append(Address(layout.chunks[i].offset));
    }
    // objcopy writes the output path into the header line, longer than a data line may be
    return command + " " + Quote(made.inputs[0]) + " " + Quote(out);
}

std::string ObjcopySRecords(const Layout& layout, const Made& made, const std::string& out,
                            int lineBytes) {
    return Objcopy(("srec --srec-forceS3 --srec-len " + std::to_string(lineBytes)).c_str(), layout,
                   made, out);
}

std::string ObjcopyHex(const Layout& layout, const Made& made, const std::string& out, int) {
    return Objcopy("ihex", layout, made, out);
}

std::string SrecCat(const Layout& layout, const Made& made, const std::string& out) {
    std::string command = "srec_cat";
    for (size_t i = 0; i < layout.chunks.size(); ++i) {
        command += " " + Quote(made.inputs[i]) + " -binary -offset " +
                   std::to_string(kBase + layout.chunks[i].offset);
    }
    return command + " -o " + Quote(out);
}

std::string SrecCatSRecords(const Layout& layout, const Made& made, const std::string& out,
                            int lineBytes) {
    return SrecCat(layout, made, out) +
           " -Motorola -address-length=4 -Output_Block_Size=" + std::to_string(lineBytes) +
           " -execution-start-address=" + std::to_string(kBase);
}

std::string SrecCatHex(const Layout& layout, const Made& made, const std::string& out,
                       int lineBytes) {
    return SrecCat(layout, made, out) + " -Intel -Output_Block_Size=" + std::to_string(lineBytes) +
           " -execution-start-address=" + std::to_string(kBase);
}

// Every chunk an object of its own, linked to its address in a segment of its own.
std::string LinkElf(const Layout& layout, const Made& made, const std::string& out, int) {
    std::string command;
    std::string segments;
    std::string sections;
    std::string objects;
    for (size_t i = 0; i < layout.chunks.size(); ++i) {
        const std::string object = made.inputs[i] + ".o";
        command += FormatText(
            "arm-none-eabi-objcopy -I binary -O elf32-littlearm -B arm --rename-section "
            ".data=.piece%zu %s %s && ",
            i, Quote(made.inputs[i]).c_str(), Quote(object).c_str());
        segments += FormatText("p%zu PT_LOAD; ", i);
        sections += FormatText(".piece%zu %s : { *(.piece%zu) } :p%zu ", i,
                               Address(layout.chunks[i].offset).c_str(), i, i);
        objects += " " + Quote(object);
    }
    const std::string script = Quote(out + ".ld");
    return command + "echo 'PHDRS { " + segments + "} SECTIONS { " + sections + "}' > " + script +
           " && arm-none-eabi-ld -T " + script + " -e " + Address(0) + " -o " + Quote(out) +
           objects;
}

struct Maker {
    const char* tool;
    SectionFormat format;
    // the entry address is kBase, not the first chunk's address
    bool entryAtBase;
    std::string (*command)(const Layout&, const Made&, const std::string&, int);
};

void CheckReadBack(const Maker& maker, int lineBytes, const std::string& outName = "made") {
    if (!HaveTool(maker.tool)) {
        GTEST_SKIP() << maker.tool << " is not installed";
    }
    uint32_t seed = 100;
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        TempFile dir(Bytes{});
        Made made = MakeInputs(layout, dir, seed += 10);
        std::string out = (dir.Dir() / outName).string();
        ASSERT_EQ(std::system((maker.command(layout, made, out, lineBytes) + " 2>&1").c_str()), 0);

        std::shared_ptr<const FileBytes> file;
        ASSERT_TRUE(ReadImageFile(out, file));
        const auto image = ParseImage(file);
        ASSERT_EQ(image->sections.size(), 1u) << image->problem;
        const ParsedSection& section = image->sections[0];
        ASSERT_EQ(section.format, maker.format);
        EXPECT_EQ(section.start, made.expected.begin()->first);
        EXPECT_EQ(section.size, made.expected.rbegin()->first + 1 - section.start);
        EXPECT_EQ(section.entry, maker.entryAtBase ? kBase : kBase + layout.chunks[0].offset);

        Upload upload = CollectSection(section);
        ASSERT_TRUE(upload.ok);
        EXPECT_EQ(upload.bytes, made.expected);
        size_t total = 0;
        for (size_t i = 0; i < upload.records.size(); ++i) {
            const ParsedFrame& record = upload.records[i];
            EXPECT_LE(record.data.size(), 2048u);
            total += record.data.size();
            // in address order, and only a full record or a gap ends one
            if (i + 1 < upload.records.size()) {
                const uint32_t end = record.address + static_cast<uint32_t>(record.data.size());
                EXPECT_GE(upload.records[i + 1].address, end);
                EXPECT_TRUE(record.data.size() == 2048 || upload.records[i + 1].address != end);
            }
        }
        // no byte sent twice
        EXPECT_EQ(total, made.expected.size());
        // the check takes what is large enough to be firmware
        EXPECT_EQ(CheckImageFile(out).verdict.ok(), section.size >= 0x1000)
            << CheckImageFile(out).verdict.words();
    }
}

// An output path of 200 characters and more.
const std::string kLongName = std::string(200, 'n') + ".srec";

TEST(ToolMadeSRecordTest, ObjcopyForcedS3) {
    const Maker maker{"objcopy", SectionFormat::SRecord, false, ObjcopySRecords};
    CheckReadBack(maker, 16);
    CheckReadBack(maker, 31, kLongName);
}

TEST(ToolMadeSRecordTest, SrecCat) {
    const Maker maker{"srec_cat", SectionFormat::SRecord, true, SrecCatSRecords};
    CheckReadBack(maker, 16);
    CheckReadBack(maker, 30, kLongName);
}

TEST(ToolMadeImageTest, IntelHex) {
    CheckReadBack({"objcopy", SectionFormat::IntelHex, false, ObjcopyHex}, 16);
    CheckReadBack({"srec_cat", SectionFormat::IntelHex, false, SrecCatHex}, 255);
}

TEST(ToolMadeImageTest, ElfLinkedForTheDevice) {
    CheckReadBack({"arm-none-eabi-ld", SectionFormat::Elf, true, LinkElf}, 0);
}

}  // namespace
