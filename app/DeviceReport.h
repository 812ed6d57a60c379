#pragma once
// What a report says about one device served: one JSON object a line (JSON Lines), appended
// to the report file and flushed as each device's update ends, so that a process that dies
// loses nothing written. The update program writes one for its device, the station one for
// every device on every port.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/AppendFile.h"
#include "app/ExitStatus.h"
#include "engine/LoaderFacts.h"
#include "serial/PortInfo.h"

// What the platform knows of the device behind a port; each part missing where it knows
// nothing.
struct DeviceIdentity {
    std::optional<std::string> vendor;   // USB vendor id
    std::optional<std::string> product;  // USB product id
    std::optional<std::string> serial;   // USB serial number
    std::optional<std::string> byId;     // a stable name of the port (/dev/serial/by-id/...)
};

// The identity of the device on a port name; nothing when the platform cannot tell.
using IdentityLookup = std::function<std::optional<DeviceIdentity>(const std::string& portName)>;

// What a listed port tells of its device; nothing when it tells nothing (no USB, no by-id).
std::optional<DeviceIdentity> IdentityOf(const PortInfo& port);
// The lookup through the ports the lister lists now, the port found by its device path (a
// path, its by-id link, usb:SERIAL, a COM name). resolve, where given, turns a path into the
// node it stands for (a link of the user's own). The lister must outlive the lookup.
IdentityLookup IdentityFromPorts(PortLister& lister,
                                 std::function<std::string(const std::string&)> resolve = nullptr);

// The image as the request writes it.
struct ImageFacts {
    std::string path;
    uint64_t size = 0;            // bytes of the file
    std::optional<uint32_t> crc;  // CRC-32 of the bytes written, in the order they are sent
};

struct DeviceReport {
    std::string port;
    std::optional<DeviceIdentity> device;
    ImageFacts image;
    uint8_t target = 0;
    // When the device was first seen on the port (or the port was first looked at).
    std::time_t startedSeconds = 0;
    double seconds = 0;
    ExitStatus status = ExitStatus::Stopped;
    std::optional<std::string> reason;  // the failing step's words; nothing on success
    LoaderFacts loader;
    uint64_t bytes = 0;          // bytes programmed
    std::optional<double> rate;  // bytes per second of programming
};

// "updated", "failed" or "stopped".
const char* OutcomeName(ExitStatus status);
// ISO 8601 in local time with its offset from UTC: "2026-12-09T03:45:00+01:00".
std::string IsoLocalTime(std::time_t seconds);
nlohmann::json ReportJson(const DeviceReport& report);
// One line of JSON without its end of line. Bytes that are not UTF-8 (a loader's version
// line is the device's own text) are replaced, never a reason to lose the line.
std::string ReportLine(const DeviceReport& report);

// The report file, shared by every port: each line is written whole and flushed under one
// lock.
class ReportWriter {
  public:
    // path empty: no report.
    explicit ReportWriter(const std::string& path) : file_(path) {}

    bool Wanted() const { return file_.Wanted(); }
    // False when the file was asked for and cannot be opened for appending.
    bool Ok() const { return file_.Ok(); }
    std::string Problem() const { return file_.Problem(); }
    // False when the line could not be written whole.
    bool Append(const DeviceReport& report);

  private:
    AppendFile file_;
    std::mutex lock_;
};
