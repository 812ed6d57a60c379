#include "platform/posix/TerminalOptions.h"

const char* const kUsageText =
    R"(Usage: ostrevan-update /port N|PATH /file IMAGE [/log FILE] [-v]
       ostrevan-update /file IMAGE /check
       ostrevan-update --help | --version

Writes a firmware image into the flash of an Ostrevan over a serial port: greets the
device, waits until it comes back as its flash loader, then erases and programs the flash.

  /port N       the serial port COMN, that is /dev/ttyS<N-1>
  /port PATH    the serial device at PATH (absolute, or relative to this folder)
  /file IMAGE   the image: an image-union file, a binary section or Motorola S-records
  /check        check the image and list what would be written; no port is touched
  /log FILE     append the detailed log, time-stamped, to FILE (also --log FILE)
  -v            show the detailed log on standard error as it comes
  --help        this text
  --version     the program's version

Exit status: 0 the flash was updated; 1 the update failed; 2 the command line cannot be
used; 3 the port cannot be used; 4 the image cannot be used; 5 stopped by the user.
)";

TerminalOptions ParseTerminalOptions(const std::vector<std::string>& arguments) {
    TerminalOptions options;
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
        } else if (argument.rfind("--", 0) == 0) {
            options.error = "unknown option " + argument;
            return options;
        } else {
            options.rest.push_back(argument);
        }
    }
    return options;
}
