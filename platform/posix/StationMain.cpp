// The station on POSIX: options with getopt_long, a port thread each, and this thread's loop
// that redraws the table (at most 10 times a second), hands device changes to the ports and
// turns Ctrl-C, SIGTERM and SIGHUP into a clean stop of every port.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/StationOptions.h"
#include "app/StationScreen.h"
#include "app/UploadEngine.h"
#include "platform/posix/DeviceWatch.h"
#include "platform/posix/DialogLoop.h"
#include "platform/posix/PosixSerialDevice.h"
#include "platform/posix/UdevPortLister.h"

namespace {

constexpr int kRedrawMs = 100;

int Usage(const std::string& problem) {
    std::cerr << "ostrevan-station: " << problem << "\n\n" << StationUsageText();
    return ToProcessStatus(ExitStatus::UsageError);
}

// Where device changes show for every port: the folders of their device paths, and /dev.
std::vector<std::string> WatchedFolders(const std::vector<std::string>& ports) {
    PosixSerialDevice device;
    std::vector<std::string> folders;
    for (const std::string& port : ports) {
        for (const std::string& folder :
             DeviceWatch::FoldersFor(device.DevicePath(StationPortName(port)), "/dev")) {
            bool known = false;
            for (const std::string& seen : folders) {
                known = known || seen == folder;
            }
            if (!known) {
                folders.push_back(folder);
            }
        }
    }
    return folders;
}

}  // namespace

int main(int argc, char** argv) {
    const StationOptions options =
        ParseStationOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.error.empty()) {
        return Usage(options.error);
    }
    if (options.help) {
        std::cout << StationUsageText();
        return ToProcessStatus(ExitStatus::Updated);
    }
    if (options.version) {
        std::cout << "ostrevan-station " << UploadEngine::kVersion << "\n";
        return ToProcessStatus(ExitStatus::Updated);
    }
    ReportWriter report(options.reportPath);
    if (!report.Ok()) {
        return Usage(report.Problem());
    }
    // Before any thread starts, so that every thread inherits the blocked close signals.
    CloseSignals signals;
    UdevPortLister lister;
    Station station(
        ProcessClock(), options.request,
        [&lister] { return std::make_unique<PosixSerialDevice>(&lister); },
        IdentityFromPorts(lister, RealNode), report);
    if (const Result image = station.Prepare(); !image) {
        std::cerr << "ostrevan-station: " << image.words() << "\n";
        return ToProcessStatus(ExitStatus::ImageUnusable);
    }
    DeviceWatch watch(WatchedFolders(options.request.ports));
    StationScreen screen(std::cout, isatty(STDOUT_FILENO) != 0, options.request.repeat);
    station.Start();
    while (!station.Finished()) {
        pollfd fds[2] = {{signals.Fd(), POLLIN, 0}, {watch.Fd(), POLLIN, 0}};
        const timespec wait{0, kRedrawMs * 1000000L};
        const int ready = ppoll(fds, watch.Fd() >= 0 ? 2 : 1, &wait, signals.WaitMask());
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (signals.Take()) {
            station.Stop();
        }
        if (watch.Fd() >= 0 && (fds[1].revents & POLLIN) != 0 && watch.Drain()) {
            station.DeviceChanged();
        }
        screen.Update(station.Rows());
    }
    const ExitStatus status = station.Wait();
    screen.Finish(station.Rows());
    if (station.LostReports() != 0) {
        std::cerr << "ostrevan-station: " << station.LostReports()
                  << " report lines could not be written to " << options.reportPath << "\n";
    }
    return ToProcessStatus(status);
}
