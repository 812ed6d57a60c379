// The dry run: `/file PATH /check` prints what an update would write and its verdict.
#include <gtest/gtest.h>

#include <sstream>

#include "../image/DamagedImages.h"
#include "app/ImageCheckCommand.h"

using namespace imagefiles;

namespace {

TEST(ImageCheckCommandTest, ListsAndJudgesWithoutAPort) {
    TempFolder folder;
    const std::string good = folder.PathOf("good image");
    TempFile::WriteFile(good, WholeUnion());
    const DamagedImage damaged = MakeDamagedImages(folder).at(1);
    const std::string srec = folder.PathOf("firmware.srec");
    TempFile::WriteFile(srec, ToBytes(SRecordFile(300)));
    const std::string loader = folder.PathOf("loader.srec");
    TempFile::WriteFile(loader,
                        ToBytes(S3Lines(kSflStart, RandomBytes(64, 5)) + SLine(7, kSflStart)));
    Bytes cutLoader = WholeUnion();
    cutLoader.resize(cutLoader.size() - 100);
    const std::string cut = folder.PathOf("cut loader");
    TempFile::WriteFile(cut, cutLoader);
    TargetChoice pflA;
    pflA.targetType = TargetType{4};
    TargetChoice romWithLoader;
    romWithLoader.targetType = TargetType{1};
    romWithLoader.loaderPath = loader;
    TargetChoice rom;
    rom.targetType = TargetType{1};
    // a loader file whose first line fails its checksum
    std::string badText = S3Lines(kSflStart, RandomBytes(64, 5)) + SLine(7, kSflStart);
    badText[12] = badText[12] == '0' ? '1' : '0';
    const std::string badLoader = folder.PathOf("bad-loader.srec");
    TempFile::WriteFile(badLoader, ToBytes(badText));
    TargetChoice romWithBadLoader = rom;
    romWithBadLoader.loaderPath = badLoader;
    TargetChoice run = pflA;
    run.run = true;
    TargetChoice pflAWithLoader = pflA;
    pflAWithLoader.loaderPath = loader;
    // a union whose loader section is replaced by fill or a text tag: no loader at all
    auto withTail = [&](const char* kind) {
        const Bytes whole = WholeUnion();
        Bytes tail;
        EXPECT_TRUE(UnionTail(kind, Bytes(whole.end() - kUnionSflSize - 4, whole.end()), tail));
        std::string path = folder.PathOf(std::string("union with ") + kind);
        TempFile::WriteFile(path,
                            Join(Bytes(whole.begin(), whole.end() - kUnionSflSize - 4), tail));
        return path;
    };
    const std::string fillTail = withTail("fill");
    const std::string tagTail = withTail("tag");
    const std::string noLoader =
        "Image refused: this image carries no flash loader; target 4 needs one, or /loader FILE";
    // Named: a braced {} in the table makes gcc -O3 warn of uninitialised members.
    const TargetChoice update;
    struct Case {
        std::string commandLine;
        TargetChoice choice;
        ExitStatus status;
        std::vector<std::string> out;
        std::string err;
    };
    const Case cases[] = {
        {"/file \"" + good + "\" /check",
         update,
         ExitStatus::Updated,
         {"Image file: " + good, "Section 0: primary flash loader, binary, 0x10000000 - ",
          "Section 1: main firmware, binary, 0x10004000 - ",
          "Image section 2, secondary flash loader at 0x00201000, is not written",
          "Image usable: 2 sections, 73728 bytes to write"},
         ""},
        // a port given as well is not touched
        {"/check /port 3 /file " + damaged.path,
         update,
         ExitStatus::ImageUnusable,
         {"Image file: " + damaged.path, "Image refused: " + damaged.problem},
         ""},
        {"/check",
         update,
         ExitStatus::UsageError,
         {},
         "usage: ostrevan-update /file PATH /check\n"},
        // a boot target names the loader it loads: it goes to memory, the rest to flash
        {"/file \"" + good + "\"",
         pflA,
         ExitStatus::Updated,
         {"Image file: " + good, "Target 4: Kalmer primary flash loader A",
          std::string("Flash loader: the image's own loader section, binary at 0x00201000, "
                      "2048 bytes; loaded into memory and started, never written to flash"),
          "Section 0: primary flash loader", "Section 1: main firmware",
          "Image section 2, secondary flash loader at 0x00201000, is not written",
          "Image usable: 2 sections, 73728 bytes to write"},
         ""},
        {"/file " + srec,
         romWithLoader,
         ExitStatus::Updated,
         {"Image file: " + srec, "Target 1: Hestan mask-ROM monitor",
          "Flash loader: the file " + loader + ", S-records at 0x00201000, 64 bytes;",
          "Section 0: main firmware, S-records, 0x10004000", "Image usable: 1 section, 4800 bytes"},
         ""},
        {"/file " + srec,
         rom,
         ExitStatus::ImageUnusable,
         {"Image file: " + srec, "Target 1: Hestan mask-ROM monitor",
          "Image refused: this image carries no flash loader; target 1 needs one, or /loader FILE"},
         ""},
        {"/file " + srec,
         romWithBadLoader,
         ExitStatus::ImageUnusable,
         {"Image file: " + srec, "Target 1: Hestan mask-ROM monitor",
          "Image refused: Flash loader " + badLoader + ": S-record line 1: "},
         ""},
        {"/file \"" + cut + "\"",
         pflA,
         ExitStatus::ImageUnusable,
         {"Image file: " + cut, "Target 4: Kalmer primary flash loader A",
          "Image refused: The image's flash loader is damaged: Image section 2 is cut short: "
          "1952 of 2048 bytes"},
         ""},
        {"/file \"" + good + "\"",
         run,
         ExitStatus::Updated,
         {"Image file: " + good, "Target 4: Kalmer primary flash loader A",
          std::string("Section 0: binary, 0x10000000 - 0x10002000, 8192 bytes; loaded into "
                      "memory and started at 0x10000000"),
          "Image usable: 8192 bytes to load and start; nothing is written"},
         ""},
        {"/file \"" + fillTail + "\"",
         pflA,
         ExitStatus::ImageUnusable,
         {"Image file: " + fillTail, "Target 4: Kalmer primary flash loader A", noLoader},
         ""},
        {"/file \"" + tagTail + "\"",
         pflA,
         ExitStatus::ImageUnusable,
         {"Image file: " + tagTail, "Target 4: Kalmer primary flash loader A", noLoader},
         ""},
        {"/file \"" + tagTail + "\"",
         pflAWithLoader,
         ExitStatus::Updated,
         {"Image file: " + tagTail, "Target 4: Kalmer primary flash loader A",
          "Flash loader: the file " + loader + ", S-records at 0x00201000, 64 bytes;",
          "Section 0: primary flash loader", "Section 1: main firmware",
          "Image section 2 has a bad header: ", "Image usable: 2 sections, 73728 bytes to write"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunImageCheck(c.commandLine, c.choice, out, err), c.status);
        std::istringstream lines(out.str());
        std::string line;
        for (const std::string& expected : c.out) {
            ASSERT_TRUE(std::getline(lines, line));
            EXPECT_EQ(line.substr(0, expected.size()), expected);
        }
        EXPECT_FALSE(std::getline(lines, line)) << line;
        EXPECT_EQ(err.str(), c.err);
    }
}

}  // namespace
