// The station's command line, what it prints without a terminal, its log names, and its core
// over ports whose devices never come.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/StationOptions.h"
#include "app/StationScreen.h"
#include "serial/FakeSerialDevice.h"
#include "testkit/ImageFiles.h"

namespace {

// The options set, one letter each: r repeat, tN a target other than 8, wS a wait other than
// 60 s, l:FILE the loader, R:FILE the report, L:DIR the log folder, h help, V version.
std::string FlagsOf(const StationOptions& options) {
    const StationRequest& request = options.request;
    const TargetChoice& target = request.target;
    return std::string(request.repeat ? "r" : "") +
           (target.Boot() ? "t" + std::to_string(static_cast<unsigned>(target.targetType)) : "") +
           (target.waitMs != 60000 ? "w" + std::to_string(target.waitMs / 1000) : "") +
           (target.loaderPath.empty() ? "" : "l:" + target.loaderPath) +
           (options.reportPath.empty() ? "" : "R:" + options.reportPath) +
           (request.logDir.empty() ? "" : "L:" + request.logDir) + (options.help ? "h" : "") +
           (options.version ? "V" : "");
}

TEST(StationTest, CommandLine) {
    struct Case {
        std::vector<std::string> arguments;
        std::string flags;
        std::string image;
        std::vector<std::string> ports;
        std::string error;
    };
    const Case cases[] = {
        {{"fw.img", "/dev/ttyUSB0"}, "", "fw.img", {"/dev/ttyUSB0"}, ""},
        {{"--repeat", "--report", "r.jsonl", "--log-dir", ".", "fw.img", "3", "4", "5"},
         "rR:r.jsonlL:.",
         "fw.img",
         {"3", "4", "5"},
         ""},
        {{"--target", "4", "--loader", "l.srec", "--wait", "5", "fw.img", "COM3"},
         "t4w5l:l.srec",
         "fw.img",
         {"COM3"},
         ""},
        // options end at the first operand: a port may look like one
        {{"fw.img", "3", "--repeat"}, "", "fw.img", {"3", "--repeat"}, ""},
        {{"--help"}, "h", "", {}, ""},
        {{"--version", "fw.img"}, "V", "", {}, ""},
        {{}, "", "", {}, "no image given"},
        {{"fw.img"}, "", "", {}, "no port given"},
        {{"fw.img", "3", "4", "3"}, "", "", {}, "port 3 is given twice"},
        {{"--target", "9", "fw.img", "3"}, "", "", {}, "--target needs a target type from 1 to 8"},
        {{"--wait", "0", "fw.img", "3"},
         "",
         "",
         {},
         "--wait needs a number of seconds from 1 to 86400"},
        {{"--loader", "l.srec", "fw.img", "3"},
         "",
         "",
         {},
         "--loader needs a boot target, --target 1 to 7"},
        {{"--log-dir", "no-such-folder", "fw.img", "3"},
         "",
         "",
         {},
         "--log-dir no-such-folder is not a folder"},
        {{"--report"}, "", "", {}, "unknown option or missing value: --report"},
        {{"--frobnicate", "fw.img", "3"},
         "",
         "",
         {},
         "unknown option or missing value: --frobnicate"},
    };
    for (const Case& c : cases) {
        const StationOptions options = ParseStationOptions(c.arguments);
        const std::string what = c.arguments.empty() ? "(none)" : c.arguments.front();
        EXPECT_EQ(options.error, c.error) << what;
        if (!c.error.empty()) {
            continue;
        }
        EXPECT_EQ(FlagsOf(options), c.flags) << what;
        EXPECT_EQ(options.request.imagePath, c.image) << what;
        EXPECT_EQ(options.request.ports, c.ports) << what;
    }
}

PortRow Row(const std::string& port, PortStage stage, uint32_t bytes = 0, uint32_t total = 0) {
    PortRow row;
    row.port = port;
    row.stage = stage;
    row.bytes = bytes;
    row.total = total;
    return row;
}

// Without a terminal: a line when a port's stage changes and per tenth of its programming,
// never one for a sample that changes neither, so the output stays short.
TEST(StationTest, PrintsALinePerStageAndPerTenthOfProgramming) {
    PortRow done = Row("p1", PortStage::Done, 65536, 65536);
    done.updated = 1;
    done.elapsedMs = 7250;
    done.rate = 11200.0;
    PortRow failed = Row("p2", PortStage::Failed);
    failed.failed = 1;
    failed.note = "ERROR: FLASH Program FAILED\n'PROGRAM_FAIL' msg received.";
    PortRow stopped = Row("p2", PortStage::Stopped);
    stopped.note = "Stopped before anything was sent to the device.";
    stopped.failed = 1;  // as with --repeat: its last device failed
    PortRow identified = Row("p1", PortStage::Greeting);
    identified.device = "A1B2C3";

    const std::vector<std::vector<PortRow>> samples = {
        {Row("p1", PortStage::Waiting), Row("p2", PortStage::Waiting)},
        {Row("p1", PortStage::Waiting), Row("p2", PortStage::Waiting)},
        {identified, Row("p2", PortStage::Greeting)},
        {Row("p1", PortStage::Loader), Row("p2", PortStage::Erase)},
        {Row("p1", PortStage::Programming, 2048, 65536), Row("p2", PortStage::Erase)},
        {Row("p1", PortStage::Programming, 6000, 65536), failed},
        {Row("p1", PortStage::Programming, 6600, 65536), failed},
        {Row("p1", PortStage::Programming, 65000, 65536), failed},
        {done, failed},
        {done, stopped},
    };
    std::ostringstream out;
    StationScreen screen(out, false, false);
    for (const auto& rows : samples) {
        screen.Update(rows);
    }
    screen.Finish(samples.back());
    EXPECT_EQ(out.str(),
              "p1: waiting\n"
              "p2: waiting\n"
              "p1: greeting [A1B2C3]\n"
              "p2: greeting\n"
              "p1: loader\n"
              "p2: erase\n"
              "p1: programming 0%, 2048 of 65536 bytes\n"
              "p2: failed: ERROR: FLASH Program FAILED: 'PROGRAM_FAIL' msg received.\n"
              "p1: programming 10%, 6600 of 65536 bytes\n"
              "p1: programming 90%, 65000 of 65536 bytes\n"
              "p1: done, 65536 bytes in 7.2 s, 11.2 kB/s\n"
              "p2: stopped: Stopped before anything was sent to the device.\n"
              "done 1, failed 1, running 0\n");
}

TEST(StationTest, SummaryCountsUpdatesPerPortWithRepeat) {
    PortRow first = Row("p1", PortStage::Waiting);
    first.updated = 2;
    PortRow second = Row("p2", PortStage::Programming, 10, 100);
    second.updated = 1;
    second.failed = 1;
    std::ostringstream out;
    const StationScreen screen(out, false, true);
    EXPECT_EQ(screen.Summary({first, second}),
              "done 3, failed 1, running 2\np1: 2 updated, 0 failed\np2: 1 updated, 1 failed");
}

// On a terminal the table is drawn over itself: the cursor goes back over every line drawn.
TEST(StationTest, TableIsRedrawnInPlace) {
    std::ostringstream out;
    StationScreen screen(out, true, false);
    const std::vector<PortRow> rows = {Row("/dev/ttyUSB0", PortStage::Programming, 512, 1024),
                                       Row("/dev/ttyUSB1", PortStage::Waiting)};
    screen.Update(rows);
    const std::string first = out.str();
    EXPECT_EQ(first.find("\x1b["), std::string::npos);
    EXPECT_NE(first.find("programming 50%"), std::string::npos);
    EXPECT_NE(first.find("512/1024"), std::string::npos);
    screen.Update(rows);
    // header, two rows, summary
    EXPECT_EQ(out.str().substr(first.size(), 8), "\x1b[4A\r\x1b[J");
    EXPECT_EQ(out.str().substr(first.size() + 8), first);

    // The end: the table once more, then in full what a stopped port says.
    PortRow stopped = Row("/dev/ttyUSB1", PortStage::Stopped);
    stopped.note = "Update stopped: the device may need the update again.";
    const size_t before = out.str().size();
    screen.Finish({rows[0], stopped});
    const std::string end = out.str().substr(before);
    EXPECT_EQ(end.substr(0, 8), "\x1b[4A\r\x1b[J");
    EXPECT_NE(end.find("done 0, failed 0, running 1\n/dev/ttyUSB1: stopped: Update stopped: the "
                       "device may need the update again.\n"),
              std::string::npos)
        << end;
}

TEST(StationTest, PortsAreNamedAsTheUpdateProgramsPort) {
    const std::pair<const char*, const char*> cases[] = {
        {"3", "COM3"},         {"COM4", "COM4"},
        {"com12", "COM12"},    {"/dev/ttyUSB0", "COM/dev/ttyUSB0"},
        {"COM", "COMCOM"},     {"COMx", "COMCOMx"},
        {"ttyS0", "COMttyS0"},
    };
    for (const auto& [given, name] : cases) {
        EXPECT_EQ(StationPortName(given), name) << given;
    }
}

TEST(StationTest, LogNamesHoldOnlyPlainCharacters) {
    struct Case {
        std::string port;
        const char* expected;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", "dev_ttyUSB0-"},       {"COM3", "COM3-"}, {"\\\\.\\COM12", "COM12-"},
        {"/tmp/a b/port:1", "tmp_a_b_port_1-"}, {"///", "port-"},
    };
    for (const Case& c : cases) {
        const std::string name = PortLogName(c.port, 0);
        EXPECT_EQ(name.substr(0, name.size() - 19), c.expected) << c.port;
        EXPECT_EQ(name.substr(name.size() - 4), ".log") << c.port;
    }
}

// A port whose device never comes is stopped with the words that say its device was never
// touched; a stopped station ends with 5 and reports no device it never served.
TEST(StationTest, PortsWithoutDevicesStopCleanly) {
    const std::string image = testing::TempDir() + "station-test.s19";
    const std::string report = testing::TempDir() + "station-test.jsonl";
    std::remove(report.c_str());
    {
        std::ofstream file(image, std::ios::binary);
        file << imagefiles::S3Lines(0x10004000, imagefiles::RandomBytes(4096, 3))
             << "S70500000000FA\n";
    }
    StationRequest request;
    request.imagePath = image;
    request.ports = {"7", "8"};
    ReportWriter writer(report);
    Station station(
        ProcessClock(), request, [] { return std::make_unique<FakeSerialDevice>(); }, nullptr,
        writer);
    ASSERT_TRUE(station.Prepare()) << station.Prepare().words();
    station.Start();
    const auto waiting = [&station] {
        for (const PortRow& row : station.Rows()) {
            if (row.stage != PortStage::Waiting || row.note.empty()) {
                return false;
            }
        }
        return true;
    };
    for (int i = 0; i < 200 && !waiting(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(waiting());
    EXPECT_EQ(station.Rows()[0].note, "Waiting for /fake/COM7...");
    EXPECT_FALSE(station.Finished());
    station.Stop();
    EXPECT_EQ(station.Wait(), ExitStatus::Stopped);
    EXPECT_TRUE(station.Finished());
    for (const PortRow& row : station.Rows()) {
        EXPECT_EQ(row.stage, PortStage::Stopped) << row.port;
        EXPECT_EQ(row.note, "Stopped before anything was sent to the device.") << row.port;
    }
    std::ifstream lines(report);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(lines), {}), "");
    std::remove(image.c_str());
    std::remove(report.c_str());
}

TEST(StationTest, AnImageThatCannotBeWrittenIsRefusedBeforeAnyPort) {
    StationRequest request;
    request.imagePath = testing::TempDir() + "no-such-image.s19";
    request.ports = {"7"};
    ReportWriter writer("");
    int devicesMade = 0;
    Station station(
        ProcessClock(), request,
        [&devicesMade] {
            ++devicesMade;
            return std::make_unique<FakeSerialDevice>();
        },
        nullptr, writer);
    const Result image = station.Prepare();
    EXPECT_EQ(image.code(), Result::Code::ImageUnusable);
    EXPECT_EQ(image.words(), "Image file not found: " + request.imagePath);
    EXPECT_EQ(devicesMade, 0);
}

}  // namespace
