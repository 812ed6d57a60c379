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
    struct Case {
        std::string commandLine;
        ExitStatus status;
        std::vector<std::string> out;
        std::string err;
    };
    const Case cases[] = {
        {"/file \"" + good + "\" /check",
         ExitStatus::Updated,
         {"Image file: " + good, "Section 0: primary flash loader, binary, 0x10000000 - ",
          "Section 1: main firmware, binary, 0x10004000 - ",
          "Image section 2, secondary flash loader at 0x00201000, is not written",
          "Image usable: 2 sections, 73728 bytes to write"},
         ""},
        // a port given as well is not touched
        {"/check /port 3 /file " + damaged.path,
         ExitStatus::ImageUnusable,
         {"Image file: " + damaged.path, "Image refused: " + damaged.problem},
         ""},
        {"/check", ExitStatus::UsageError, {}, "usage: ostrevan-update /file PATH /check\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunImageCheck(c.commandLine, out, err), c.status);
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
