#include "app/ProgramOptions.h"

#include "app/CommandLine.h"
#include "app/ImageCheckCommand.h"
#include "app/UploadEngine.h"

namespace {

const char* const kPurpose =
    R"(Writes a firmware image into the flash of an Ostrevan over a serial port: greets the
device, waits until it comes back as its flash loader, then erases and programs the flash.

)";

const char* const kTerminalPorts =
    R"(  /port N       the serial port COMN, that is /dev/ttyS<N-1>
  /port PATH    the serial device at PATH (absolute, or relative to this folder)
)";

const char* const kCommonOptions =
    R"(  /file IMAGE   the image: an image-union file, a binary section, Motorola S-records, an
                ELF file (32-bit ARM) or Intel HEX
  /check        check the image and list what would be written; no port is touched
  /log FILE     append the detailed log, time-stamped, to FILE (also --log FILE)
)";

const char* const kHelpAndStatuses =
    R"(  --help        this text
  --version     the program's version

Exit status: 0 the flash was updated; 1 the update failed; 2 the command line cannot be
used; 3 the port cannot be used; 4 the image cannot be used; 5 stopped by the user.
)";

}  // namespace

std::string UsageText(ProgramKind kind) {
    if (kind == ProgramKind::Terminal) {
        return std::string(R"(Usage: ostrevan-update /port N|PATH /file IMAGE [/log FILE] [-v]
       ostrevan-update /file IMAGE /check
       ostrevan-update --help | --version

)") + kPurpose +
               kTerminalPorts + kCommonOptions +
               "  -v            show the detailed log on standard error as it comes\n" +
               kHelpAndStatuses;
    }
    return std::string(R"(Usage: ostrevan-update /port N /file IMAGE [/log FILE]
       ostrevan-update /file IMAGE /check
       ostrevan-update --help | --version

)") + kPurpose +
           "  /port N       the serial port COMN\n" + kCommonOptions + kHelpAndStatuses;
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
        } else if (argument == "/log" || argument == "--log") {
            if (i + 1 == arguments.size()) {
                options.error = argument + " needs a file name";
                return options;
            }
            options.logPath = arguments[++i];
        } else if (kind == ProgramKind::Terminal && argument.rfind("--", 0) == 0) {
            options.error = "unknown option " + argument;
            return options;
        } else {
            options.rest.push_back(argument);
        }
    }
    // A window has no standard error to show the log on as it comes.
    if (kind == ProgramKind::Window && options.verbose && options.error.empty()) {
        options.error = "-v shows the log on a terminal; this program keeps it with /log FILE";
    }
    return options;
}

std::optional<ExitStatus> AnswerWithoutUpdate(const ProgramOptions& options, ProgramKind kind,
                                              std::ostream& out, std::ostream& err) {
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
    if (options.check) {
        return RunImageCheck(JoinArguments(options.rest), out, err);
    }
    return std::nullopt;
}
