#include "app/ProgramOptions.h"

#include <cstdint>

#include "app/CommandLine.h"
#include "app/ImageCheckCommand.h"
#include "app/UploadEngine.h"
#include "engine/FormatText.h"
#include "targets/TargetCatalogue.h"

namespace {

const char* const kPurpose =
    R"(Writes a firmware image into the flash of an Ostrevan over a serial port: greets the
device, waits until it comes back as its flash loader, then erases and programs the flash.
A device whose firmware no longer answers is recovered through its boot mode (/target).

)";

const char* const kUsbPort =
    "  /port usb:SERIAL  the USB serial port with that serial number, wherever it appears\n";

const char* const kTerminalPorts =
    R"(  /port N       the serial port COMN, that is /dev/ttyS<N-1>
  /port PATH    the serial device at PATH (absolute, or relative to this folder)
)";

const char* const kCommonOptions =
    R"(  /file IMAGE   the image: an image-union file, a binary section, Motorola S-records, an
                ELF file (32-bit ARM) or Intel HEX
  /check        check the image and list what would be written; no port is touched
  /log FILE     append the detailed log, time-stamped, to FILE (also --log FILE)
  /report FILE  append a line of JSON on the device's update to FILE (also --report FILE)
)";

std::string RecoveryOptions() {
    return R"(  /loader FILE  the flash loader a boot target loads into the device's memory: S-records
                or a binary section; else the image's own loader section
  /run          load the image's first section through the boot connection and start it
                instead of updating the flash (needs /target )" +
           Targets().BootRange() + R"()
  /wait S       give up when the boot loader has not answered after S seconds (default 60)
)";
}

const char* const kHelpAndStatuses =
    R"(  --list        list the serial ports: the name for /port, driver, USB ids, busy
                (also /list)
  --help        this text
  --version     the program's version

Exit status: 0 the flash was updated (with /run: the image was started); 1 the update
failed, or the boot loader did not answer; 2 the command line cannot be used; 3 the port
cannot be used; 4 the image or its flash loader cannot be used; 5 stopped by the user.
)";

std::string TargetList() {
    std::string list = FormatText("  /target N     how the device is reached (default %u):\n",
                                  static_cast<unsigned>(TargetChoice().targetType));
    for (const TargetRow& row : Targets().Rows()) {
        if (row.Offered()) {
            list += "                  " + std::to_string(row.Number()) + "  " +
                    Targets().NameOf(row.type) + "\n";
        }
    }
    return list;
}

// Why the recovery options cannot work together; empty when they can.
std::string TargetProblem(const TargetChoice& target) {
    if (target.Boot()) {
        return target.run && !target.loaderPath.empty()
                   ? "/run loads the image itself; /loader has no use with it"
                   : "";
    }
    if (target.run) {
        return "/run needs a boot target, /target " + Targets().BootRange();
    }
    if (!target.loaderPath.empty()) {
        return "/loader needs a boot target, /target " + Targets().BootRange();
    }
    return "";
}

}  // namespace

bool ReadCount(const std::string& text, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = static_cast<uint32_t>(std::stoul(text));
    return value >= 1 && value <= max;
}

bool ReadTargetType(const std::string& text, uint32_t& value) {
    const TargetRow* row = nullptr;
    if (ReadCount(text, UINT8_MAX, value)) {
        row = Targets().Find(static_cast<TargetType>(value));
    }
    return row != nullptr && row->Offered();
}

std::string UsageText(ProgramKind kind) {
    const char* const recovery =
        R"(       ostrevan-update /port N /file IMAGE /target N [/loader FILE] [/wait S] [/run]
)";
    if (kind == ProgramKind::Terminal) {
        return std::string(
                   R"(Usage: ostrevan-update /port N|PATH /file IMAGE [/log FILE] [/report FILE] [-v]
)") + recovery +
               R"(       ostrevan-update /file IMAGE [/target N [/loader FILE]] /check
       ostrevan-update --list | --help | --version

)" + kPurpose + kTerminalPorts +
               kUsbPort + kCommonOptions + TargetList() + RecoveryOptions() +
               "  -v            show the detailed log on standard error as it comes\n" +
               kHelpAndStatuses;
    }
    return std::string(R"(Usage: ostrevan-update /port N /file IMAGE [/log FILE] [/report FILE]
)") + recovery +
           R"(       ostrevan-update /file IMAGE [/target N [/loader FILE]] /check
       ostrevan-update --list | --help | --version

)" + kPurpose +
           "  /port N       the serial port COMN\n" + kUsbPort + kCommonOptions + TargetList() +
           RecoveryOptions() + kHelpAndStatuses;
}

ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments, ProgramKind kind) {
    ProgramOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "-v") {
            options.verbose = true;
        } else if (argument == "/check" || argument == "--check") {
            options.check = true;
        } else if (argument == "/list" || argument == "--list") {
            options.list = true;
        } else if (argument == "/log" || argument == "--log" || argument == "/loader" ||
                   argument == "/report" || argument == "--report") {
            if (i + 1 == arguments.size()) {
                options.error = argument + " needs a file name";
                return options;
            }
            std::string& path = argument == "/loader" ? options.target.loaderPath
                                : argument == "/log" || argument == "--log" ? options.logPath
                                                                            : options.reportPath;
            path = arguments[++i];
        } else if (argument == "/run") {
            options.target.run = true;
        } else if (argument == "/target" || argument == "/wait") {
            const bool target = argument == "/target";
            uint32_t value = 0;
            if (i + 1 == arguments.size() ||
                !(target ? ReadTargetType(arguments[++i], value)
                         : ReadCount(arguments[++i], TargetChoice::kMaxWaitS, value))) {
                options.error = target
                                    ? "/target needs a target type from " + Targets().OfferedRange()
                                    : "/wait needs a number of seconds from 1 to 86400";
                return options;
            }
            if (target) {
                options.target.targetType = static_cast<TargetType>(value);
            } else {
                options.target.waitMs = value * 1000;
            }
        } else if (kind == ProgramKind::Terminal && argument.rfind("--", 0) == 0) {
            options.error = "unknown option " + argument;
            return options;
        } else {
            options.rest.push_back(argument);
        }
    }
    if (options.error.empty()) {
        options.error = TargetProblem(options.target);
    }
    // A window has no standard error to show the log on as it comes.
    if (kind == ProgramKind::Window && options.verbose && options.error.empty()) {
        options.error = "-v shows the log on a terminal; this program keeps it with /log FILE";
    }
    return options;
}

std::optional<ExitStatus> AnswerWithoutUpdate(const ProgramOptions& options, ProgramKind kind,
                                              std::ostream& out, std::ostream& err,
                                              PortLister* lister) {
    if (!options.error.empty()) {
        err << "ostrevan-update: " << options.error << "\n\n" << UsageText(kind);
        return ExitStatus::UsageError;
    }
    if (options.help) {
        out << UsageText(kind);
        return ExitStatus::Updated;
    }
    if (options.version) {
        out << "ostrevan-update " << UploadEngine::kVersion << "\n";
        return ExitStatus::Updated;
    }
    if (options.list) {
        out << FormatPortList(lister != nullptr ? lister->List() : std::vector<PortInfo>());
        return ExitStatus::Updated;
    }
    if (options.check) {
        return RunImageCheck(JoinArguments(options.rest), options.target, out, err);
    }
    return std::nullopt;
}
