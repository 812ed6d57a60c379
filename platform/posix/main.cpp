// POSIX entry: the terminal tool's own options first (--help, --version, /check, /log, -v);
// the rest is joined into one command line, as Windows would hand it over, and given to the
// same start-up as the Windows program.
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/ImageCheckCommand.h"
#include "app/UpdateApp.h"
#include "app/UploadEngine.h"
#include "platform/posix/TerminalDialog.h"
#include "platform/posix/TerminalOptions.h"

namespace {

int Usage(const std::string& problem) {
    std::cerr << "ostrevan-update: " << problem << "\n\n" << kUsageText;
    return ToProcessStatus(ExitStatus::UsageError);
}

}  // namespace

int main(int argc, char** argv) {
    const TerminalOptions options =
        ParseTerminalOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.error.empty()) {
        return Usage(options.error);
    }
    if (options.help) {
        std::cout << kUsageText;
        return 0;
    }
    if (options.version) {
        std::cout << "ostrevan-update " << UploadEngine::kVersion << "\n";
        return 0;
    }
    static std::string portName;
    static std::string imagePath;
    const std::string commandLine = JoinArguments(options.rest);
    if (options.check) {
        return ToProcessStatus(RunImageCheck(commandLine, std::cout, std::cerr));
    }
    // Without both values the dialog never runs: the command line could not be used.
    ExitStatus status = ExitStatus::UsageError;
    UpdateApp app(portName, imagePath, [&status, &options] {
        TerminalRun run;
        run.portName = portName;
        run.imagePath = imagePath;
        run.verbose = options.verbose;
        run.logPath = options.logPath;
        status = RunTerminalDialog(run);
    });
    app.InitInstance(commandLine);
    if (portName.empty() || imagePath.empty()) {
        return Usage(portName.empty() ? "no port given (/port N or /port PATH)"
                                      : "no image given (/file IMAGE)");
    }
    return ToProcessStatus(status);
}
