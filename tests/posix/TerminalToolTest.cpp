// The terminal tool's own options, its programming figures and its log lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/LogSink.h"
#include "platform/posix/TerminalOptions.h"
#include "platform/posix/TerminalView.h"
#include "platform/posix/TransferMeter.h"

namespace {

TEST(TerminalOptionsTest, OwnOptionsAreTakenTheRestGoesToTheSharedParser) {
    struct Case {
        std::vector<std::string> arguments;
        bool help, version, verbose, check;
        std::string logPath;
        std::vector<std::string> rest;
        std::string error;
    };
    const Case cases[] = {
        {{"/port", "3", "/file", "fw.bin"},
         false,
         false,
         false,
         false,
         "",
         {"/port", "3", "/file", "fw.bin"},
         ""},
        {{"-v", "/port", "3", "/log", "u.log", "/file", "x"},
         false,
         false,
         true,
         false,
         "u.log",
         {"/port", "3", "/file", "x"},
         ""},
        {{"--log", "/file", "/file", "x"}, false, false, false, false, "/file", {"/file", "x"}, ""},
        {{"/file", "x", "/check"}, false, false, false, true, "", {"/file", "x"}, ""},
        {{"--help"}, true, false, false, false, "", {}, ""},
        {{"--version"}, false, true, false, false, "", {}, ""},
        {{"/port", "3", "/log"},
         false,
         false,
         false,
         false,
         "",
         {"/port", "3"},
         "/log needs a file name"},
        {{"--port", "3"}, false, false, false, false, "", {}, "unknown option --port"},
    };
    for (const Case& c : cases) {
        const TerminalOptions options = ParseTerminalOptions(c.arguments);
        const std::string what = c.arguments.empty() ? "" : c.arguments[0];
        EXPECT_EQ(options.help, c.help) << what;
        EXPECT_EQ(options.version, c.version) << what;
        EXPECT_EQ(options.verbose, c.verbose) << what;
        EXPECT_EQ(options.check, c.check) << what;
        EXPECT_EQ(options.logPath, c.logPath) << what;
        EXPECT_EQ(options.error, c.error) << what;
        if (c.error.empty()) {
            EXPECT_EQ(options.rest, c.rest) << what;
        }
    }
}

TEST(TransferMeterTest, RateAndTimeLeftCountFromTheFirstBytes) {
    TransferMeter meter;
    EXPECT_EQ(meter.Line(), "");
    meter.Sample(1000, 0, 40000);  // still erasing
    EXPECT_EQ(meter.Line(), "");
    meter.Sample(6000, 2000, 40000);
    EXPECT_EQ(meter.Line(), "2000 of 40000 bytes");
    meter.Sample(8000, 22000, 40000);  // 20000 bytes in 2 s
    EXPECT_EQ(meter.Line(), "22000 of 40000 bytes, 10.0 kB/s, 0:02 left");
    meter.Sample(9800, 40000, 40000);
    EXPECT_EQ(meter.Line(), "40000 of 40000 bytes, 10.0 kB/s");
    EXPECT_EQ(meter.Summary(16000), "Wrote 40000 bytes in 16.0 s (2.5 kB/s).");
}

TEST(TerminalViewTest, LogLinesGoAboveThePanelWhichIsDrawnAgain) {
    std::ostringstream out;
    std::ostringstream err;
    TerminalView panel(out, true);
    panel.Show();
    panel.SetFigures("100 of 200 bytes");
    const size_t drawn = out.str().size();
    panel.Interject(err, "2026-12-08 10:00:00.000 SFLD Connected");
    EXPECT_EQ(err.str(), "2026-12-08 10:00:00.000 SFLD Connected\n");
    const std::string after = out.str().substr(drawn);
    EXPECT_EQ(after.rfind("\x1b[4A\r\x1b[J", 0), 0u);  // out of the way, then drawn anew
    EXPECT_NE(after.find("100 of 200 bytes"), std::string::npos);
    EXPECT_NE(after.find(TerminalView::kWarning), std::string::npos);

    std::ostringstream plainOut;
    std::ostringstream plainErr;
    TerminalView plain(plainOut, false);
    plain.SetFigures("100 of 200 bytes");
    plain.Interject(plainErr, "line");
    EXPECT_EQ(plainOut.str(), "");
    EXPECT_EQ(plainErr.str(), "line\n");
}

TEST(LogSinkTest, LinesAreAppendedStampedAndShown) {
    const std::string path = ::testing::TempDir() + "ostrevan-log-sink.log";
    std::ofstream(path) << "earlier run\n";
    std::vector<std::string> shown;
    {
        LogSink sink(path, [&](const std::string& line) { shown.push_back(line); });
        ASSERT_TRUE(sink.Ok());
        sink.Write("ERROR: BAD_CSUM", 0, 7);
        sink.Write("", 0, 8);
    }
    const std::string stamp = LogSink::Stamp(0, 7);
    ASSERT_EQ(stamp.size(), 23u);
    EXPECT_EQ(stamp.substr(19), ".007");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "earlier run\n" + stamp + " ERROR: BAD_CSUM\n" + LogSink::Stamp(0, 8) + " \n");
    EXPECT_EQ(shown,
              (std::vector<std::string>{stamp + " ERROR: BAD_CSUM", LogSink::Stamp(0, 8) + " "}));
    EXPECT_FALSE(LogSink("/nonexistent-folder/x.log", nullptr).Ok());
    std::remove(path.c_str());
}

}  // namespace
