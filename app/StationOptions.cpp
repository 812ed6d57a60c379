#include "app/StationOptions.h"

#include <getopt.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "app/ProgramOptions.h"
#include "targets/TargetCatalogue.h"

namespace {

const char* const kUsage =
    R"(Usage: ostrevan-station [--repeat] [--report FILE] [--log-dir DIR]
                        [--target N [--loader FILE]] [--wait S] IMAGE PORT...
       ostrevan-station --help | --version

Updates the Ostrevan devices on every PORT at once, each as ostrevan-update does it: greets
the device, waits until it comes back as its flash loader, then erases and programs the
flash. On a terminal a table shows every port; otherwise a line is printed for each stage a
port reaches and for each tenth of its programming. Ctrl-C stops every port.

  IMAGE             the image, read and checked once for every port
  PORT              a number N (COMN), a device path, or on Windows COMn
  --repeat          after a port's device is done, wait for it to leave and update the next
                    device that arrives there; runs until stopped
  --report FILE     append a line of JSON for every device served to FILE
  --log-dir DIR     keep a detailed log for every device in DIR, named by port and start
  --target N        how the devices are reached (default 8, their running application)
  --loader FILE     the flash loader a boot target loads into the device's memory
  --wait S          give up when a boot loader has not answered after S seconds (default 60)
  --help            this text
  --version         the program's version

Exit status: 0 every device was updated; 1 at least one failed; 2 the command line cannot be
used; 4 the image or its flash loader cannot be used; 5 stopped by the user.
)";

}  // namespace

std::string StationUsageText() {
    return kUsage;
}

StationOptions ParseStationOptions(const std::vector<std::string>& arguments) {
    StationOptions options;
    StationRequest& request = options.request;
    std::vector<std::string> storage;
    storage.reserve(arguments.size() + 1);
    storage.emplace_back("ostrevan-station");
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    enum : int { kRepeat = 1, kReport, kLogDir, kTarget, kLoader, kWait, kHelp, kVersion };
    static const option kLong[] = {{"repeat", no_argument, nullptr, kRepeat},
                                   {"report", required_argument, nullptr, kReport},
                                   {"log-dir", required_argument, nullptr, kLogDir},
                                   {"target", required_argument, nullptr, kTarget},
                                   {"loader", required_argument, nullptr, kLoader},
                                   {"wait", required_argument, nullptr, kWait},
                                   {"help", no_argument, nullptr, kHelp},
                                   {"version", no_argument, nullptr, kVersion},
                                   {nullptr, 0, nullptr, 0}};
    // getopt keeps its place between calls: each parse starts afresh, with its own messages.
    optind = 0;
    opterr = 0;
    const int argc = static_cast<int>(storage.size());
    for (int got; (got = getopt_long(argc, argv.data(), "+h", kLong, nullptr)) != -1;) {
        uint32_t value = 0;
        switch (got) {
            case kRepeat:
                request.repeat = true;
                break;
            case kReport:
                options.reportPath = optarg;
                break;
            case kLogDir:
                request.logDir = optarg;
                break;
            case kTarget:
                if (!ReadTargetType(optarg, value)) {
                    options.error = "--target needs a target type from " + Targets().OfferedRange();
                    return options;
                }
                request.target.targetType = static_cast<TargetType>(value);
                break;
            case kLoader:
                request.target.loaderPath = optarg;
                break;
            case kWait:
                if (!ReadCount(optarg, TargetChoice::kMaxWaitS, value)) {
                    options.error = "--wait needs a number of seconds from 1 to 86400";
                    return options;
                }
                request.target.waitMs = value * 1000;
                break;
            case 'h':
            case kHelp:
                options.help = true;
                break;
            case kVersion:
                options.version = true;
                break;
            default: {
                const std::string which = optind >= 1 && optind <= argc && argv[optind - 1]
                                              ? argv[optind - 1]
                                              : std::string("?");
                options.error = optopt != 0 && optopt < kRepeat
                                    ? "unknown option -" + std::string(1, static_cast<char>(optopt))
                                    : "unknown option or missing value: " + which;
                return options;
            }
        }
    }
    if (options.help || options.version) {
        return options;
    }
    for (int i = optind; i < argc; ++i) {
        (request.imagePath.empty() ? request.imagePath : request.ports.emplace_back()) = argv[i];
    }
    if (request.imagePath.empty()) {
        options.error = "no image given";
    } else if (request.ports.empty()) {
        options.error = "no port given";
    } else if (!request.target.loaderPath.empty() && !request.target.Boot()) {
        options.error = "--loader needs a boot target, --target 1 to 7";
    } else if (std::error_code error;
               !request.logDir.empty() && !std::filesystem::is_directory(request.logDir, error)) {
        // Found now, not once a device's log is lost.
        options.error = "--log-dir " + request.logDir + " is not a folder";
    } else {
        std::set<std::string> seen;
        for (const std::string& port : request.ports) {
            if (!seen.insert(port).second) {
                options.error = "port " + port + " is given twice";
                break;
            }
        }
    }
    return options;
}
