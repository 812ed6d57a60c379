#pragma once
// The station: every port given runs the update program's flow, unchanged (one UpdateDialog
// with an engine of its own), on a thread of its own, in one process. The ports share only
// the image, read and checked once and read-only, and the report writer; a fault, an unplug
// or a hang on one port never stops or slows another. With repeat, a port that has served
// its device waits for the device to leave and serves the next one that arrives.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/DeviceReport.h"
#include "app/ExitStatus.h"
#include "app/ImageCheckCommand.h"
#include "app/TargetChoice.h"
#include "engine/Clock.h"
#include "engine/Event.h"
#include "serial/SerialDevice.h"

struct StationRequest {
    std::string imagePath;
    std::vector<std::string> ports;  // as the user gave them: a number, a path, COMn
    bool repeat = false;
    std::string logDir;  // a log a port and device, named by port and start time
    TargetChoice target;
};

enum class PortStage { Waiting, Greeting, Loader, Erase, Programming, Done, Failed, Stopped };
const char* StageName(PortStage stage);

// What a port shows: the device it serves now, or the last one it served.
struct PortRow {
    std::string port;
    std::string device;  // the device's identity in words; empty when nothing is known
    PortStage stage = PortStage::Waiting;
    uint32_t bytes = 0;  // programmed of total
    uint32_t total = 0;
    std::optional<double> rate;  // bytes per second of programming
    uint64_t elapsedMs = 0;
    // A failure's reason, a stop's words, or what a waiting port waits for.
    std::string note;
    unsigned updated = 0;  // devices this port has updated, and failed to
    unsigned failed = 0;
    bool ended = false;  // the port's flow has ended: nothing more will change
};

class Station {
  public:
    using DeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

    // The report writer and the identity lookup are shared by every port; identify may be
    // empty.
    Station(Clock& clock, StationRequest request, DeviceFactory makeDevice, IdentityLookup identify,
            ReportWriter& report);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Reads and checks the image once, before any port is touched: what it would be refused
    // for, in words.
    Result Prepare();
    // Starts every port's thread.
    void Start();
    // A device came or went somewhere: each port looks.
    void DeviceChanged();
    // Every port stops cleanly; its flow ends as the update program's does when stopped.
    void Stop();
    // Every port's flow has ended.
    bool Finished();
    std::vector<PortRow> Rows();
    // Waits for every port; how the station ends: 5 when stopped, else 1 when a device
    // failed, else 0.
    ExitStatus Wait();
    // Report lines that could not be written (a full disk, a file gone): told, never lost
    // silently.
    unsigned LostReports() const { return lostReports_.load(); }

  private:
    class Port;

    Clock& clock_;
    const StationRequest request_;
    DeviceFactory makeDevice_;
    IdentityLookup identify_;
    ReportWriter& report_;
    std::shared_ptr<const FileBytes> file_;
    RequestCheck check_;
    std::atomic<bool> stopping_{false};
    std::atomic<unsigned> lostReports_{0};
    std::vector<std::unique_ptr<Port>> ports_;
};

// The port name of a PORT as given: COMn stays itself, a number N is COMN, and a path is the
// path, in the form the update program's /port gives them ("COM" before it).
std::string StationPortName(const std::string& given);

// A log file's name for a port and the moment it starts: the port's characters that a file
// name cannot hold become '_' ("dev_ttyUSB0-20261209-034500.log").
std::string PortLogName(const std::string& port, std::time_t start);
