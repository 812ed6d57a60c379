#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/UpdateApp.h"

TEST(SplitCommandLineTest, Tokens) {
    struct Case {
        std::string line;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"", {}},
        {"   ", {}},
        {"a  b", {"a", "b"}},
        {"a\tb", {"a\tb"}},  // only the blank separates
        {"a\"b c\"d", {"ab c", "d"}},
        {"\"\" x", {"x"}},      // a quoted empty string is no token
        {"x \"open b", {"x"}},  // an unclosed quote loses its token
        {"\"C:\\My Files\\fw.bin\"", {"C:\\My Files\\fw.bin"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.tokens) << c.line;
    }
}

TEST(ParseCommandLineTest, Keywords) {
    struct Case {
        std::string line;
        bool ok;
        std::string port;
        std::string image;
    };
    const Case cases[] = {
        {"/port 3 /file C:\\fw.bin", true, "COM3", "C:\\fw.bin"},
        {"/port 3 /file \"C:\\My Files\\fw.bin\"", true, "COM3", "C:\\My Files\\fw.bin"},
        {"/file x.bin /port 7", true, "COM7", "x.bin"},
        {"/port COM3 /file x", true, "COMCOM3", "x"},
        {"/PORT 3 /file x", false, "", "x"},
        {"/port /file x", true, "COM/file", "x"},
        {"/port 3 /file x /file y", true, "COM3", "y"},
        {"/port 3 /port 4 /file x", true, "COM4", "x"},
        {"/port 3 /file", false, "COM3", ""},
        {"/port 3 /file \"b", false, "COM3", ""},
        {"/port 3 /File x", false, "COM3", ""},
        {"junk /port 3 more /file x tail", true, "COM3", "x"},
        {"   ", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string port;
        std::string image;
        EXPECT_EQ(ParseCommandLine(c.line, port, image), c.ok) << c.line;
        EXPECT_EQ(port, c.port) << c.line;
        EXPECT_EQ(image, c.image) << c.line;
    }
}

TEST(JoinArgumentsTest, QuotesArgumentsWithBlanksAndRoundTrips) {
    const std::vector<std::string> arguments = {"/port", "/dev/ttyUSB0", "/file", "my fw.s19"};
    const std::string line = JoinArguments(arguments);
    EXPECT_EQ(line, "/port /dev/ttyUSB0 /file \"my fw.s19\"");
    EXPECT_EQ(SplitCommandLine(line), arguments);
}

TEST(UpdateAppTest, RunsTheDialogOnlyWithBothValues) {
    struct Case {
        std::string line;
        bool runs;
    };
    for (const Case& c : {Case{"", false}, Case{" ", false}, Case{"/port 3", false},
                          Case{"/port 3 /file x", true}}) {
        std::string port;
        std::string image;
        int runs = 0;
        UpdateApp app(port, image, [&] { ++runs; });
        EXPECT_FALSE(app.InitInstance(c.line));
        EXPECT_EQ(runs, c.runs ? 1 : 0) << c.line;
    }
}
