// POSIX entry: the program's own options first (--help, --version, --list, /check, /log, -v); the
// rest is joined into one command line, as Windows would hand it over, and given to the same
// start-up as the Windows program.
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/ProgramOptions.h"
#include "app/UpdateApp.h"
#include "platform/posix/TerminalDialog.h"
#include "platform/posix/UdevPortLister.h"

namespace {

int Usage(const std::string& problem) {
    std::cerr << "ostrevan-update: " << problem << "\n\n" << UsageText(ProgramKind::Terminal);
    return ToProcessStatus(ExitStatus::UsageError);
}

}  // namespace

int main(int argc, char** argv) {
    const ProgramOptions options =
        ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), ProgramKind::Terminal);
    UdevPortLister lister;
    if (const auto answered =
            AnswerWithoutUpdate(options, ProgramKind::Terminal, std::cout, std::cerr, &lister)) {
        return ToProcessStatus(*answered);
    }
    static std::string portName;
    static std::string imagePath;
    // Without both values the dialog never runs: the command line could not be used.
    ExitStatus status = ExitStatus::UsageError;
    UpdateApp app(portName, imagePath, [&status, &options, &lister] {
        TerminalRun run;
        run.portName = portName;
        run.imagePath = imagePath;
        run.verbose = options.verbose;
        run.logPath = options.logPath;
        run.reportPath = options.reportPath;
        run.target = options.target;
        run.lister = &lister;
        status = RunTerminalDialog(run);
    });
    app.InitInstance(JoinArguments(options.rest));
    if (portName.empty() || imagePath.empty()) {
        return Usage(portName.empty() ? "no port given (/port N or /port PATH)"
                                      : "no image given (/file IMAGE)");
    }
    return ToProcessStatus(status);
}
