#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/FormatText.h"
#include "image/ImageCheck.h"
#include "image/ImageReport.h"
#include "support/TestContext.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;

namespace {

class ImageReportTest : public ::testing::Test {
  protected:
    // The file as the dialog's side reads and parses it, opened as a request opens it.
    Result Open(const std::string& path) {
        std::shared_ptr<const FileBytes> file;
        EXPECT_TRUE(ReadImageFile(path, file));
        return OpenImage(context, ParseImage(file).get());
    }

    VirtualClock clock;
    TestContext context{clock};
};

TEST_F(ImageReportTest, OpenImageReportsEverySection) {
    Bytes bytes = BinarySection(kFlashStart, 0x3000, true, 1);
    bytes.resize(0x4000, 0xFF);
    // the main firmware without its checksum word: the file ends after its data
    bytes = Join(bytes, BinarySection(kMainStart, 0x2000, false, 2));
    TempFile file(bytes);
    // The flags are shown as the upload takes them: the first section is always written.
    ASSERT_TRUE(Open(file.Path()));
    EXPECT_EQ(context.statusText.Get(), "Open image");
    const std::vector<std::string> expected = {
        "Open image file name - " + file.Path(),
        "----------- Image Info -----------",
        "Image file: " + file.Path(),
        "File size: " + std::to_string(0x6000),
        "Sections in all: 2",
        "****** Section N1 ******",
        "Active flag: on",
        "Format: binary",
        "FW ID: PFL",
        "Start address: 0x10000000",
        "Size: 0x00003000",
        "Entry: 0x10000000",
        "CRC State: ok",
        "****** Section N2 ******",
        "Active flag: on",
        "Format: binary",
        "FW ID: Main F/W",
        "Start address: 0x10004000",
        "Size: 0x00002000",
        "Entry: 0x10004000",
        "CRC State: ok",
        "",
    };
    EXPECT_EQ(context.TakeLog(), expected);
}

// A damaged section is reported like any other, then the image is refused.
TEST_F(ImageReportTest, RawSRecordElfAndHexSections) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<std::string> section;
        std::string refusal;
    };
    Bytes wrong = BinarySection(kMainStart, 0x100, true);
    wrong.back() ^= 1;
    // the flipped bit is the top one of the little-endian word
    const uint32_t computed = XorOfWords(Bytes(wrong.begin(), wrong.begin() + 0x100));
    const Case cases[] = {
        {"checksum word wrong",
         wrong,
         {"Format: binary", "FW ID: unknown", "Start address: 0x10000000", "Size: 0x00000104",
          "Entry: 0x10000000", "CRC State: n/a"},
         FormatText("ERROR: Image section 0 fails its checksum: the file says 0x%08X, its bytes "
                    "0x%08X",
                    computed ^ 0x01000000u, computed)},
        {"S-records",
         ToBytes(S3Lines(kSflStart, Bytes(0x30, 1)) + SLine(7, 0x00201004)),
         {"Format: Motorola S-record", "FW ID: SFL", "Start address: 0x00201000",
          "Size: 0x00000030", "Entry: 0x00201004", "CRC State: ok"},
         ""},
        {"ELF",
         ElfFile({{kMainStart, Bytes(0x30, 1)}}, 0x10004001),
         {"Format: ELF", "FW ID: Main F/W", "Start address: 0x10004000", "Size: 0x00000030",
          "Entry: 0x10004001", "CRC State: ok"},
         ""},
        {"Intel HEX",
         ToBytes(HexLines(kFlashStart, Bytes(0x30, 1)) + HexRecord(5, 0, {0x10, 0, 0, 9}) +
                 HexRecord(1, 0)),
         {"Format: Intel HEX", "FW ID: PFL", "Start address: 0x10000000", "Size: 0x00000030",
          "Entry: 0x10000000", "CRC State: ok"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file(c.bytes);
        context.statusText.Set("");
        ASSERT_EQ(Open(file.Path()).ok(), c.refusal.empty());
        std::vector<std::string> log = context.TakeLog();
        const size_t refused = c.refusal.empty() ? 0 : 1;
        ASSERT_EQ(log.size(), 5u + 2 + c.section.size() + 1 + refused);
        EXPECT_EQ(log[4], "Sections in all: 1");
        EXPECT_EQ(std::vector<std::string>(log.begin() + 7, log.begin() + 7 + c.section.size()),
                  c.section);
        if (refused != 0) {
            EXPECT_EQ(log.back(), c.refusal);
            EXPECT_EQ(context.statusText.Get(), c.refusal);
        }
    }
}

// A request without the file's bytes: the file could not be read.
TEST_F(ImageReportTest, OpenFailureIsReportedOnce) {
    const Result opened = OpenImage(context, nullptr);
    EXPECT_EQ(opened.code(), Result::Code::ImageUnusable);
    EXPECT_EQ(opened.words(), "ERROR: image open FAILED");
    EXPECT_EQ(context.statusText.Get(), "ERROR: image open FAILED");
    EXPECT_EQ(context.TakeLog(),
              (std::vector<std::string>{"Open image file name - ", "ERROR: image open FAILED"}));
}

TEST_F(ImageReportTest, ReportSection) {
    ParsedSection section;
    ReportSection(context, section);
    EXPECT_EQ(context.TakeLog(), (std::vector<std::string>{"*Section report*", "Format: unknown"}));
    section.format = SectionFormat::SRecord;
    section.start = kSflStart;
    section.size = 0x7F0;
    section.entry = kSflStart;
    ReportSection(context, section);
    EXPECT_EQ(context.TakeLog(),
              (std::vector<std::string>{"*Section report*", "Format: Motorola S-record",
                                        "Start address: 0x00201000",
                                        "Size: 0x000007F0 (2032) bytes", "Entry: 0x00201000"}));
}

}  // namespace
