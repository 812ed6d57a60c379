// S-record files made by independent tools (binutils' objcopy, srecord's srec_cat) must read
// back into exactly the bytes they were made from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"
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

std::string ObjcopyCommand(const Layout& layout, const Made& made, const std::string& out,
                           int lineBytes) {
    char first[16];
    std::snprintf(first, sizeof first, "0x%X", kBase + layout.chunks[0].offset);
    std::string command = "objcopy -I binary -O srec --srec-forceS3 --srec-len " +
                          std::to_string(lineBytes) + " --change-addresses " + first;
    for (size_t i = 1; i < layout.chunks.size(); ++i) {
        char address[16];
        std::snprintf(address, sizeof address, "0x%X", kBase + layout.chunks[i].offset);
        std::string name = ".piece" + std::to_string(i);
        command.append(" --add-section ").append(name).append("=").append(Quote(made.inputs[i]));
        command.append(" --set-section-flags ").append(name).append("=alloc,load,contents,data");
        command.append(" --change-section-address ").append(name).append("=").append(address);
    }
    // objcopy writes the output path into the header line, longer than a data line may be
    return command + " " + Quote(made.inputs[0]) + " " + Quote(out);
}

std::string SrecCatCommand(const Layout& layout, const Made& made, const std::string& out,
                           int lineBytes) {
    std::string command = "srec_cat";
    for (size_t i = 0; i < layout.chunks.size(); ++i) {
        command += " " + Quote(made.inputs[i]) + " -binary -offset " +
                   std::to_string(kBase + layout.chunks[i].offset);
    }
    return command + " -o " + Quote(out) +
           " -Motorola -address-length=4 -Output_Block_Size=" + std::to_string(lineBytes) +
           " -execution-start-address=" + std::to_string(kBase);
}

void CheckReadBack(const char* tool, int lineBytes,
                   std::string (*command)(const Layout&, const Made&, const std::string&, int),
                   const std::string& outName = "made.srec") {
    if (!HaveTool(tool)) {
        GTEST_SKIP() << tool << " is not installed";
    }
    uint32_t seed = 100;
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        TempFile dir(Bytes{});
        Made made = MakeInputs(layout, dir, seed += 10);
        std::string out = (dir.Dir() / outName).string();
        ASSERT_EQ(std::system((command(layout, made, out, lineBytes) + " 2>&1").c_str()), 0);

        FirmwareImage image;
        ASSERT_TRUE(image.Open(out));
        image.LoadSections();
        ASSERT_EQ(image.count, 1);
        const ImageSection& section = image.sections[0];
        ASSERT_EQ(section.format, SectionFormat::SRecord);
        EXPECT_EQ(section.start, made.expected.begin()->first);
        EXPECT_EQ(section.size, made.expected.rbegin()->first + 1 - section.start);
        EXPECT_EQ(section.entry,
                  kBase + layout.chunks[0].offset * (tool[0] == 'o') + 0 * layout.chunks.size());

        ASSERT_TRUE(image.RewindSection(0));
        Upload upload = Collect([&](SfldRecord& r) { return image.NextSectionRecord(r, 0); });
        ASSERT_TRUE(upload.ok);
        EXPECT_EQ(upload.bytes, made.expected);
        size_t total = 0;
        for (const ParsedFrame& record : upload.records) {
            EXPECT_LE(record.data.size(), 2048u);
            total += record.data.size();
        }
        // no byte sent twice
        EXPECT_EQ(total, made.expected.size());
        // the check takes what is large enough to be firmware
        EXPECT_EQ(CheckImageFile(out).usable, section.size >= 0x1000)
            << CheckImageFile(out).problem;
    }
}

// An output path of 200 characters and more.
const std::string kLongName = std::string(200, 'n') + ".srec";

TEST(ToolMadeSRecordTest, ObjcopyForcedS3) {
    CheckReadBack("objcopy", 16, ObjcopyCommand);
    CheckReadBack("objcopy", 31, ObjcopyCommand, kLongName);
}

TEST(ToolMadeSRecordTest, SrecCat) {
    CheckReadBack("srec_cat", 16, SrecCatCommand);
    CheckReadBack("srec_cat", 30, SrecCatCommand, kLongName);
}

}  // namespace
