// The options both programs take beside /port and /file, what each answers without an
// update, and the detailed log they keep.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/LogSink.h"
#include "app/ProgramOptions.h"

namespace {

constexpr ProgramKind kTerminal = ProgramKind::Terminal;
constexpr ProgramKind kWindow = ProgramKind::Window;

// The options set, one letter each: h help, V version, v verbose, c check, L list, r run; tN a
// target type other than 8, wS a wait other than 60 s, l:FILE the loader, R:FILE the report.
std::string FlagsOf(const ProgramOptions& options) {
    const TargetChoice& target = options.target;
    return std::string(options.help ? "h" : "") + (options.version ? "V" : "") +
           (options.verbose ? "v" : "") + (options.check ? "c" : "") + (options.list ? "L" : "") +
           (target.run ? "r" : "") +
           (target.Boot() ? "t" + std::to_string(static_cast<unsigned>(target.targetType)) : "") +
           (target.waitMs != 60000 ? "w" + std::to_string(target.waitMs / 1000) : "") +
           (target.loaderPath.empty() ? "" : "l:" + target.loaderPath) +
           (options.reportPath.empty() ? "" : "R:" + options.reportPath);
}

TEST(ProgramOptionsTest, OwnOptionsAreTakenTheRestGoesToTheSharedParser) {
    struct Case {
        ProgramKind kind;
        std::vector<std::string> arguments;
        std::string flags;
        std::string logPath;
        std::vector<std::string> rest;
        std::string error;
    };
    const Case cases[] = {
        {kTerminal, {"/port", "3", "/file", "f"}, "", "", {"/port", "3", "/file", "f"}, ""},
        {kTerminal,
         {"-v", "/port", "3", "/log", "u.log", "/file", "x"},
         "v",
         "u.log",
         {"/port", "3", "/file", "x"},
         ""},
        {kTerminal, {"--log", "/file", "/file", "x"}, "", "/file", {"/file", "x"}, ""},
        {kTerminal, {"/file", "x", "/check"}, "c", "", {"/file", "x"}, ""},
        {kTerminal, {"--help"}, "h", "", {}, ""},
        {kTerminal, {"--version"}, "V", "", {}, ""},
        {kTerminal, {"--list"}, "L", "", {}, ""},
        {kWindow, {"/list"}, "L", "", {}, ""},
        {kTerminal, {"/port", "3", "/log"}, "", "", {}, "/log needs a file name"},
        {kTerminal,
         {"/port", "3", "/report", "r.jsonl", "/file", "x"},
         "R:r.jsonl",
         "",
         {"/port", "3", "/file", "x"},
         ""},
        {kTerminal, {"/file", "x", "--report"}, "", "", {}, "--report needs a file name"},
        {kTerminal, {"--port", "3"}, "", "", {}, "unknown option --port"},
        // recovery: a boot target, its loader and wait, or the run image
        {kTerminal,
         {"/port", "3", "/target", "4", "/file", "x", "/loader", "l.srec", "/wait", "5"},
         "t4w5l:l.srec",
         "",
         {"/port", "3", "/file", "x"},
         ""},
        {kWindow, {"/run", "/target", "7", "/file", "x"}, "rt7", "", {"/file", "x"}, ""},
        {kTerminal, {"/target", "8", "/file", "x"}, "", "", {"/file", "x"}, ""},
        {kTerminal, {"/target", "0"}, "", "", {}, "/target needs a target type from 1 to 8"},
        {kTerminal, {"/target", "9"}, "", "", {}, "/target needs a target type from 1 to 8"},
        {kTerminal, {"/target", "+4"}, "", "", {}, "/target needs a target type from 1 to 8"},
        {kTerminal,
         {"/file", "x", "/target"},
         "",
         "",
         {},
         "/target needs a target type from 1 to 8"},
        {kTerminal,
         {"/file", "x", "/run"},
         "r",
         "",
         {},
         "/run needs a boot target, /target 1 to 7"},
        {kTerminal, {"/loader", "l"}, "l:l", "", {}, "/loader needs a boot target, /target 1 to 7"},
        {kTerminal,
         {"/target", "4", "/run", "/loader", "l"},
         "rt4l:l",
         "",
         {},
         "/run loads the image itself; /loader has no use with it"},
        {kTerminal,
         {"/target", "4", "/wait", "0"},
         "t4",
         "",
         {},
         "/wait needs a number of seconds from 1 to 86400"},
        // The Windows program knows the same options; every other token stays ignored.
        {kWindow,
         {"/port", "3", "--log", "C:\\logs\\u.log", "/file", "x", "--frobnicate"},
         "",
         "C:\\logs\\u.log",
         {"/port", "3", "/file", "x", "--frobnicate"},
         ""},
        {kWindow, {"--check", "/file", "x"}, "c", "", {"/file", "x"}, ""},
        {kWindow,
         {"/report", "C:\\r.jsonl", "/log", "u.log", "/file", "x"},
         "R:C:\\r.jsonl",
         "u.log",
         {"/file", "x"},
         ""},
        {kWindow, {"-h"}, "h", "", {}, ""},
        {kWindow, {"/file", "x", "/log"}, "", "", {}, "/log needs a file name"},
        {kWindow,
         {"/port", "3", "/file", "x", "-v"},
         "v",
         "",
         {},
         "-v shows the log on a terminal; this program keeps it with /log FILE"},
    };
    for (const Case& c : cases) {
        const ProgramOptions options = ParseProgramOptions(c.arguments, c.kind);
        const std::string what = c.arguments.back();
        EXPECT_EQ(FlagsOf(options), c.flags) << what;
        EXPECT_EQ(options.logPath, c.logPath) << what;
        EXPECT_EQ(options.error, c.error) << what;
        if (c.error.empty()) {
            EXPECT_EQ(options.rest, c.rest) << what;
        }
    }
}

// Each program answers the same way, each with its own usage: only an update goes on.
TEST(ProgramOptionsTest, AnswersWithoutAnUpdate) {
    struct Case {
        ProgramKind kind;
        std::vector<std::string> arguments;
        int status;       // the exit status; -1 when the update is to run
        std::string out;  // what the output starts with
        std::string err;
    };
    const std::string usage = "Usage: ostrevan-update /port N";
    const Case cases[] = {
        {kTerminal, {"--help"}, 0, usage + "|PATH /file", ""},
        {kWindow, {"--help"}, 0, usage + " /file", ""},
        {kWindow, {"--version"}, 0, "ostrevan-update 1.", ""},
        {kWindow, {"/check"}, 2, "", "usage: ostrevan-update /file PATH"},
        {kWindow, {"-v", "/port", "3"}, 2, "", "ostrevan-update: -v shows the log on a terminal"},
        {kTerminal, {"/port", "3", "/file", "x", "-v"}, -1, "", ""},
        {kWindow, {"/file", "x", "/run"}, 2, "", "ostrevan-update: /run needs a boot target"},
        {kWindow, {"/port", "3", "/file", "x", "--frobnicate"}, -1, "", ""},
        {kTerminal, {"--list"}, 0, "/dev/ttyS0\n", ""},
        {kWindow, {"/list"}, 0, "COM3: Serial\n", ""},
    };
    struct OnePort : PortLister {
        explicit OnePort(ProgramKind kind) : kind(kind) {}
        std::vector<PortInfo> List() override {
            PortInfo port;
            port.name = port.node = kind == kTerminal ? "/dev/ttyS0" : "COM3";
            port.driver = kind == kTerminal ? "" : "Serial";
            return {port};
        }
        ProgramKind kind;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        std::ostringstream out;
        std::ostringstream err;
        OnePort lister(c.kind);
        const auto answer = AnswerWithoutUpdate(ParseProgramOptions(c.arguments, c.kind), c.kind,
                                                out, err, &lister);
        EXPECT_EQ(answer ? ToProcessStatus(*answer) : -1, c.status);
        EXPECT_EQ(out.str().substr(0, c.out.size()), c.out);
        EXPECT_EQ(out.str().empty(), c.out.empty());
        EXPECT_EQ(err.str().substr(0, c.err.size()), c.err);
        EXPECT_EQ(err.str().empty(), c.err.empty());
    }
    // the -v line is the terminal's own; the rest of the usage is the same
    const std::string terminal = UsageText(kTerminal);
    const std::string window = UsageText(kWindow);
    EXPECT_NE(terminal.find("\n  -v "), std::string::npos);
    EXPECT_EQ(window.find("\n  -v "), std::string::npos);
    // the target types are listed by name, in both
    for (const std::string& usage : {terminal, window}) {
        EXPECT_NE(usage.find("  1  Hestan mask-ROM monitor\n"), std::string::npos);
        EXPECT_NE(usage.find("  3  Orvane text monitor on the Kalmer chip\n"), std::string::npos);
        EXPECT_NE(usage.find("  5  Kalmer primary flash loader B"), std::string::npos);
        EXPECT_NE(usage.find("  8  flash loader already running"), std::string::npos);
    }
}

TEST(LogSinkTest, LinesAreAppendedStampedAndShown) {
    const std::string path = ::testing::TempDir() + "ostrevan-log-sink.log";
    std::ofstream(path) << "earlier run\n";
    std::vector<std::string> shown;
    std::vector<std::string> logged = {"SFLD Connected", ""};
    {
        LogSink sink(
            path, [&](const std::string& line) { shown.push_back(line); },
            [&]() -> std::optional<std::string> {
                if (logged.empty()) {
                    return std::nullopt;
                }
                std::string line = logged.front();
                logged.erase(logged.begin());
                return line;
            });
        ASSERT_TRUE(sink.Ok());
        sink.Write("ERROR: BAD_CSUM", 0, 7);
        sink.Write("", 0, 8);
        // the engine's lines, the empty one too
        sink.Follow();
        EXPECT_TRUE(logged.empty());
    }
    const std::string stamp = LogSink::Stamp(0, 7);
    ASSERT_EQ(stamp.size(), 23u);
    EXPECT_EQ(stamp.substr(19), ".007");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string written = text.str();
    const std::string first =
        "earlier run\n" + stamp + " ERROR: BAD_CSUM\n" + LogSink::Stamp(0, 8) + " \n";
    EXPECT_EQ(written.substr(0, first.size()), first);
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0], stamp + " ERROR: BAD_CSUM");
    EXPECT_EQ(shown[1], LogSink::Stamp(0, 8) + " ");
    EXPECT_EQ(shown[2].substr(23), " SFLD Connected");
    EXPECT_EQ(shown[3].substr(23), " ");
    EXPECT_EQ(written.substr(first.size()), shown[2] + "\n" + shown[3] + "\n");
    const LogSink unusable("/nonexistent-folder/x.log", nullptr);
    EXPECT_FALSE(unusable.Ok());
    EXPECT_EQ(unusable.Problem(), "cannot append to /nonexistent-folder/x.log");
    std::remove(path.c_str());
}

}  // namespace
