// The report's JSON line read back by a JSON parser, its local time with the zone's offset,
// and its writer shared by several ports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/DeviceReport.h"

namespace {

using nlohmann::json;

DeviceReport Updated() {
    DeviceReport report;
    report.port = "/dev/ttyUSB0";
    report.device = DeviceIdentity{"1a86", "7523", std::nullopt, "usb-1a86_7523-if00-port0"};
    report.image = {"fw.img", 83976, 0xEB670EFCu};
    report.target = 8;
    report.seconds = 7.25;
    report.status = ExitStatus::Updated;
    report.loader = {"$SFLD V2.05", uint8_t{0x01}, uint16_t{0x2249}, "AM29LV160B/DB"};
    report.bytes = 73728;
    report.rate = 11022.5;
    return report;
}

TEST(DeviceReportTest, EveryFieldReadsBackWithItsTypeAndNullWhereNothingIsKnown) {
    DeviceReport failed;
    failed.port = "COM3";
    failed.image = {"fw.img", 10, std::nullopt};
    failed.status = ExitStatus::UpdateFailed;
    failed.reason = "ERROR: FLASH Program FAILED\n'PROGRAM_FAIL' msg received.";
    DeviceReport oldLoader = Updated();
    oldLoader.loader = {"$SFLD V1.0", std::nullopt, std::nullopt, "Flash: AM29F400"};
    oldLoader.status = ExitStatus::Stopped;
    oldLoader.reason = "Update stopped: the device may need the update again.";
    DeviceReport refused = failed;
    refused.status = ExitStatus::ImageUnusable;

    struct Case {
        const char* name;
        DeviceReport report;
        // the expected values of the fields that differ between the rows
        json expected;
    };
    const Case cases[] = {
        {"updated",
         Updated(),
         {{"outcome", "updated"},
          {"status", 0},
          {"reason", nullptr},
          {"device",
           {{"vendor", "1a86"},
            {"product", "7523"},
            {"serial", nullptr},
            {"by_id", "usb-1a86_7523-if00-port0"}}},
          {"image", {{"path", "fw.img"}, {"size", 83976}, {"crc32", "eb670efc"}}},
          {"loader_version", "$SFLD V2.05"},
          {"flash", {{"maker", 1}, {"device_id", 0x2249}, {"name", "AM29LV160B/DB"}}},
          {"bytes", 73728},
          {"rate", 11022.5}}},
        {"failed before the loader answered",
         failed,
         {{"outcome", "failed"},
          {"status", 1},
          {"reason", "ERROR: FLASH Program FAILED\n'PROGRAM_FAIL' msg received."},
          {"device", nullptr},
          {"image", {{"path", "fw.img"}, {"size", 10}, {"crc32", nullptr}}},
          {"loader_version", nullptr},
          {"flash", nullptr},
          {"bytes", 0},
          {"rate", nullptr}}},
        {"stopped, an old loader's one-byte flash answer",
         oldLoader,
         {{"outcome", "stopped"},
          {"status", 5},
          {"reason", "Update stopped: the device may need the update again."},
          {"flash", {{"maker", nullptr}, {"device_id", nullptr}, {"name", "Flash: AM29F400"}}}}},
        {"image refused", refused, {{"outcome", "failed"}, {"status", 4}}},
    };
    const char* const fields[] = {"port",    "device",  "image",  "target", "started",
                                  "seconds", "outcome", "status", "reason", "loader_version",
                                  "flash",   "bytes",   "rate"};
    for (const Case& c : cases) {
        const std::string line = ReportLine(c.report);
        EXPECT_EQ(line.find('\n'), std::string::npos) << c.name;
        const json read = json::parse(line);
        EXPECT_EQ(read.size(), std::size(fields)) << c.name;
        for (const char* field : fields) {
            EXPECT_TRUE(read.contains(field)) << c.name << ": " << field;
        }
        for (const auto& [field, value] : c.expected.items()) {
            EXPECT_EQ(read[field], value) << c.name << ": " << field;
        }
        EXPECT_EQ(read["port"], c.report.port) << c.name;
        EXPECT_EQ(read["seconds"], c.report.seconds) << c.name;
    }
}

// Ports listed as a platform would: two USB adapters, one behind a link of the user's own, and
// a UART with nothing to tell. The busy probe opens ports: the lookup must never ask for it.
class FakeLister : public PortLister {
  public:
    std::vector<PortInfo> List() override {
        ADD_FAILURE() << "the lookup asked for the busy probe";
        return ListQuietly();
    }
    std::vector<PortInfo> ListQuietly() override {
        PortInfo ftdi;
        ftdi.name = ftdi.byId = "/dev/serial/by-id/usb-FTDI_A9XYZ-if00-port0";
        ftdi.node = "/dev/ttyUSB1";
        ftdi.vendorId = "0403";
        ftdi.productId = "6001";
        ftdi.serial = "A9XYZ";
        PortInfo ch340;
        ch340.name = ch340.node = "COM12";
        ch340.vendorId = "1a86";
        ch340.productId = "7523";
        PortInfo uart;
        uart.name = uart.node = "/dev/ttyS0";
        return {uart, ch340, ftdi};
    }
};

TEST(DeviceReportTest, TheDeviceIsFoundByAnyNameOfItsPort) {
    const DeviceIdentity ftdi{"0403", "6001", "A9XYZ",
                              "/dev/serial/by-id/usb-FTDI_A9XYZ-if00-port0"};
    const DeviceIdentity ch340{"1a86", "7523", std::nullopt, std::nullopt};
    struct Case {
        const char* path;
        std::optional<DeviceIdentity> expected;
    };
    const Case cases[] = {
        {"/dev/ttyUSB1", ftdi},
        {"/dev/serial/by-id/usb-FTDI_A9XYZ-if00-port0", ftdi},
        {"usb:A9XYZ", ftdi},
        {"/home/lab/gps", ftdi},  // the user's link, resolved to its node
        {"COM12", ch340},
        {"\\\\.\\com12", ch340},       // as COM10 and up are opened
        {"/dev/ttyS0", std::nullopt},  // listed, but nothing known of a device
        {"/dev/ttyUSB7", std::nullopt},
        {"usb:GONE", std::nullopt},
        {"", std::nullopt},
    };
    FakeLister lister;
    const IdentityLookup identify = IdentityFromPorts(lister, [](const std::string& path) {
        return path == "/home/lab/gps" ? std::string("/dev/ttyUSB1") : std::string();
    });
    const auto words = [](const std::optional<DeviceIdentity>& identity) {
        DeviceReport report;
        report.device = identity;
        return ReportJson(report)["device"].dump();
    };
    for (const Case& c : cases) {
        EXPECT_EQ(words(identify(c.path)), words(c.expected)) << c.path;
    }
}

// A loader's version line is the device's text: bytes that are not UTF-8 must not cost the
// line (the encoder would otherwise throw).
TEST(DeviceReportTest, BytesThatAreNotUtf8AreReplacedAndTheLineStillParses) {
    DeviceReport report = Updated();
    report.loader.version = std::string("$SFLD \xff\xfe V2");
    const json read = json::parse(ReportLine(report));
    EXPECT_EQ(read["loader_version"], "$SFLD \xEF\xBF\xBD\xEF\xBF\xBD V2");
}

#if !defined(_WIN32)
TEST(DeviceReportTest, StartedIsLocalTimeWithTheZonesOffset) {
    struct Case {
        const char* zone;
        std::time_t seconds;
        const char* expected;
    };
    const Case cases[] = {
        {"UTC0", 0, "1970-01-01T00:00:00+00:00"},
        {"CET-1", 1796787900, "2026-12-09T04:45:00+01:00"},
        // west of Greenwich, half hours, and the day before in local time
        {"NST+3:30", 1796787900, "2026-12-09T00:15:00-03:30"},
        {"XST+5", 1796787900, "2026-12-08T22:45:00-05:00"},
    };
    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    for (const Case& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(IsoLocalTime(c.seconds), c.expected) << c.zone;
    }
    if (saved != nullptr) {
        setenv("TZ", before.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
#endif

// Ports end at the same moment: every line is whole, none is lost, and a second writer (a
// later run) appends after the first one's lines.
TEST(DeviceReportTest, PortsAppendWholeLinesSideBySide) {
    const std::string path = testing::TempDir() + "device-report-test.jsonl";
    std::remove(path.c_str());
    constexpr int kPorts = 8;
    constexpr int kDevices = 40;
    {
        ReportWriter writer(path);
        ASSERT_TRUE(writer.Ok());
        std::vector<std::thread> ports;
        ports.reserve(kPorts);
        for (int port = 0; port < kPorts; ++port) {
            ports.emplace_back([&writer, port] {
                DeviceReport report = Updated();
                report.port = "COM" + std::to_string(port);
                report.reason = std::string(3000, 'x');  // long enough to need several writes
                for (int device = 0; device < kDevices; ++device) {
                    report.bytes = static_cast<uint64_t>(device);
                    EXPECT_TRUE(writer.Append(report));
                }
            });
        }
        for (std::thread& port : ports) {
            port.join();
        }
    }
    ReportWriter later(path);
    ASSERT_TRUE(later.Append(Updated()));

    std::ifstream file(path, std::ios::binary);
    std::vector<int> seen(kPorts, 0);
    int lines = 0;
    for (std::string line; std::getline(file, line); ++lines) {
        const json read = json::parse(line);
        if (lines < kPorts * kDevices) {
            const int port = std::stoi(read["port"].get<std::string>().substr(3));
            EXPECT_EQ(read["bytes"], seen[port]++);
        } else {
            EXPECT_EQ(read["port"], "/dev/ttyUSB0");
        }
    }
    EXPECT_EQ(lines, kPorts * kDevices + 1);
    std::remove(path.c_str());
}

TEST(DeviceReportTest, AFileThatCannotBeAppendedToIsRefusedWithItsName) {
    const ReportWriter none("");
    EXPECT_TRUE(none.Ok());
    EXPECT_FALSE(none.Wanted());
    const std::string path = testing::TempDir() + "no-such-folder/report.jsonl";
    ReportWriter writer(path);
    EXPECT_FALSE(writer.Ok());
    EXPECT_EQ(writer.Problem(), "cannot append to " + path);
    EXPECT_FALSE(writer.Append(Updated()));
}

}  // namespace
