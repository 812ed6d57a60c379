#include <gtest/gtest.h>

#include "platform/win32/Win32CommandLine.h"

namespace {

TEST(ArgumentsOfTest, DropsTheProgramNameOnly) {
    struct Case {
        const char* commandLine;
        const char* arguments;
    };
    const Case cases[] = {
        {"ostrevan-update.exe /port 3 /file x", "/port 3 /file x"},
        {"\"C:\\Program Files\\ostrevan-update.exe\" /port 3", "/port 3"},
        {"\"C:\\a b\\u.exe\"/port 3", "/port 3"},
        {"u.exe \t  /port 3 /file \"a b\"", "/port 3 /file \"a b\""},
        {"u.exe\t/port 3", "/port 3"},
        {"u.exe", ""},
        {"\"u.exe", ""},
        {"", ""},
        // Blanks inside the arguments are the parser's business, not ours.
        {"u.exe /port  3 ", "/port  3 "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ArgumentsOf(c.commandLine), c.arguments) << c.commandLine;
    }
    EXPECT_EQ(ArgumentsOf(nullptr), "");
}

}  // namespace
