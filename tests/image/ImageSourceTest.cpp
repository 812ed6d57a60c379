#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>

#include "image/ImageSource.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;

namespace {

// The same bytes behind either kind of source.
class SourceOver {
  public:
    SourceOver(bool fromFile, const Bytes& bytes) {
        if (fromFile) {
            file_ = std::make_unique<TempFile>(bytes);
            opened = source.OpenFile(file_->Path());
        } else {
            table_.Register(ImageSource::kResourceType, 7, bytes);
            opened = source.OpenResource(7, table_);
        }
    }
    ImageSource source;
    bool opened = false;

  private:
    std::unique_ptr<TempFile> file_;
    ResourceTable table_;
};

class EitherSource : public ::testing::TestWithParam<bool> {};

TEST_P(EitherSource, SeekAndReadGiveErrorDataAndEnd) {
    SourceOver over(GetParam(), Bytes{1, 2, 3, 4, 5});
    ASSERT_TRUE(over.opened);
    ImageSource& source = over.source;
    EXPECT_EQ(source.size, 5u);
    EXPECT_FALSE(source.Seek(5));
    EXPECT_FALSE(source.Seek(0xFFFFFFFF));
    ASSERT_TRUE(source.Seek(3));
    uint8_t buffer[8] = {};
    uint16_t count = 99;
    EXPECT_EQ(source.Read(buffer, 8, count), ReadResult::Data);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(source.Read(buffer, 8, count), ReadResult::End);
    EXPECT_EQ(count, 0);
    ASSERT_TRUE(source.Seek(0));
    EXPECT_EQ(source.Read(buffer, 2, count), ReadResult::Data);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(buffer[1], 2);
    source.Close();
    EXPECT_EQ(source.kind, ImageSource::Closed);
    EXPECT_FALSE(source.Seek(0));
    EXPECT_EQ(source.Read(buffer, 2, count), ReadResult::Error);
    EXPECT_EQ(source.ReadSRecord(*std::make_unique<SRecord>()), ReadResult::Error);
}

// Each line read from the start of the source; the rest of the record is checked only for
// lines that read as a record.
struct LineCase {
    const char* name;
    std::string text;
    ReadResult result;
    int type;
    uint32_t address;
    Bytes data;
};

std::string Replace(std::string line, size_t at, char c) {
    line[at] = c;
    return line;
}

const std::string kGood = SLine(3, kMainStart, {0xDE, 0xAD, 0xBE, 0xEF});
const std::string kLongest = SLine(3, kMainStart, Bytes(31, 0x5A), "");  // 76 characters

std::string LowerHex(std::string line) {
    for (size_t i = 2; i < line.size(); ++i) {
        line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
    }
    return line;
}

const LineCase kLines[] = {
    {"S3", kGood, ReadResult::Data, 3, kMainStart, {0xDE, 0xAD, 0xBE, 0xEF}},
    {"S1", SLine(1, 0x1234, {1, 2}), ReadResult::Data, 1, 0x1234, {1, 2}},
    {"S2", SLine(2, 0x123456, {9}), ReadResult::Data, 2, 0x123456, {9}},
    {"S7 entry", SLine(7, 0x10004400), ReadResult::Data, 7, 0x10004400, {}},
    {"S3 without data", SLine(3, 0x200), ReadResult::Data, 3, 0x200, {}},
    {"lower-case hex", LowerHex(kGood), ReadResult::Data, 3, kMainStart, {0xDE, 0xAD, 0xBE, 0xEF}},
    {"CR LF", SLine(3, 0x10, {7}, "\r\n"), ReadResult::Data, 3, 0x10, {7}},
    {"no line end", SLine(3, 0x10, {7}, ""), ReadResult::Data, 3, 0x10, {7}},
    {"78 with CR LF", kLongest + "\r\n", ReadResult::Data, 3, kMainStart, Bytes(31, 0x5A)},
    {"79 with CR LF", kLongest + " \r\n", ReadResult::Error, 0, 0, {}},
    {"79 with LF", SLine(3, kMainStart, Bytes(32, 0x5A)), ReadResult::Error, 0, 0, {}},
    {"checksum wrong",
     Replace(kGood, kGood.size() - 2, kGood[kGood.size() - 2] == '0' ? '1' : '0'),
     ReadResult::Error,
     0,
     0,
     {}},
    {"not S", "X" + kGood.substr(1), ReadResult::Error, 0, 0, {}},
    {"blank line", "\n", ReadResult::Error, 0, 0, {}},
    {"type not a digit", "SX" + kGood.substr(2), ReadResult::Error, 0, 0, {}},
    {"bad hex digit", Replace(kGood, 14, 'G'), ReadResult::Error, 0, 0, {}},
    {"blank inside", Replace(kGood, 14, ' '), ReadResult::Error, 0, 0, {}},
    {"sign inside", Replace(kGood, 12, '+'), ReadResult::Error, 0, 0, {}},
    {"digit missing", kGood.substr(0, kGood.size() - 2) + "\n", ReadResult::Error, 0, 0, {}},
    // count 4 leaves no room for a 4-byte address and the checksum
    {"trailing text", kGood.substr(0, kGood.size() - 1) + "XYZ\n", ReadResult::Error, 0, 0, {}},
    {"S3 count too small", "S304100040AB\n", ReadResult::Error, 0, 0, {}},
    {"S7 count too small", "S70300FFFD\n", ReadResult::Error, 0, 0, {}},
    {"longer than is read", std::string(300, 'S') + "\n", ReadResult::Error, 0, 0, {}},
    {"empty input", "", ReadResult::End, 0, 0, {}},
};

TEST_P(EitherSource, ReadSRecordLines) {
    for (const LineCase& c : kLines) {
        SCOPED_TRACE(c.name);
        SourceOver over(GetParam(), ToBytes(c.text));
        if (c.text.empty()) {
            // an empty file opens but cannot be sought into; its first line is the end
            ASSERT_TRUE(over.opened);
        } else {
            ASSERT_TRUE(over.opened && over.source.Seek(0));
        }
        auto record = std::make_unique<SRecord>();
        ASSERT_EQ(over.source.ReadSRecord(*record), c.result);
        if (c.result != ReadResult::Data) {
            continue;
        }
        EXPECT_EQ(record->type, c.type);
        EXPECT_EQ(record->address, c.address);
        if (c.type >= 1 && c.type <= 3) {
            ASSERT_EQ(record->count, c.data.size());
            for (size_t i = 0; i < c.data.size(); ++i) {
                EXPECT_EQ(record->data[i], c.data[i]);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FileAndResource, EitherSource, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "File" : "Resource"; });

TEST(ImageSourceTest, LongPathsOpenWholeOrNotAtAll) {
    TempFile base(Bytes{0x11});
    // build a 511-character path from folders short enough for the file system
    std::string dir = base.Dir().string();
    while (dir.size() + 1 + 100 < 511 - 20) {
        dir += "/" + std::string(100, 'd');
    }
    std::filesystem::create_directories(dir);
    std::string longest = dir + "/" + std::string(511 - dir.size() - 1, 'f');
    ASSERT_EQ(longest.size(), 511u);
    TempFile::WriteFile(longest, Bytes{0x22, 0x33});

    ImageSource source;
    ASSERT_TRUE(source.OpenFile(longest));
    EXPECT_EQ(source.kind, ImageSource::File);
    EXPECT_EQ(source.size, 2u);
    EXPECT_EQ(source.path, longest);

    // one more character must not be cut back to the 511-character file that exists
    EXPECT_FALSE(source.OpenFile(longest + "g"));
    EXPECT_EQ(source.kind, ImageSource::OpenFailed);
    EXPECT_FALSE(source.Seek(0));
    // nor may a NUL inside the name cut it
    EXPECT_FALSE(source.OpenFile(longest + std::string(1, '\0')));
    EXPECT_EQ(source.kind, ImageSource::OpenFailed);
    EXPECT_FALSE(source.OpenFile(base.Dir().string() + "/missing"));
    EXPECT_EQ(source.kind, ImageSource::OpenFailed);
}

TEST(ImageSourceTest, ResourcesComeFromTheInstalledLookup) {
    ImageSource source;
    // the program carries no loader resources on this platform
    EXPECT_FALSE(source.OpenResource(174));
    EXPECT_EQ(source.kind, ImageSource::Closed);

    ResourceTable table;
    table.Register("S_RECORD", 195, ToBytes(kGood));
    table.Register("OTHER", 196, Bytes{1});
    SetModuleResources(&table);
    EXPECT_TRUE(source.OpenResource(195));
    EXPECT_EQ(source.kind, ImageSource::Resource);
    EXPECT_EQ(source.size, kGood.size());
    EXPECT_EQ(source.position, 0u);
    EXPECT_FALSE(source.OpenResource(196));  // wrong type
    EXPECT_EQ(source.kind, ImageSource::Closed);
    SetModuleResources(nullptr);
    EXPECT_FALSE(source.OpenResource(195));
}

}  // namespace
