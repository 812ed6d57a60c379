// POSIX entry: the arguments are joined into one command line, as Windows would hand it over,
// and given to the same start-up as the Windows program.
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/ImageCheckCommand.h"
#include "app/UpdateApp.h"
#include "platform/posix/TerminalDialog.h"

int main(int argc, char** argv) {
    const std::string commandLine = JoinArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (WantsImageCheck(commandLine)) {
        return ToProcessStatus(RunImageCheck(commandLine, std::cout, std::cerr));
    }
    static std::string portName;
    static std::string imagePath;
    // Without both values the dialog never runs: the command line could not be used.
    ExitStatus status = ExitStatus::UsageError;
    UpdateApp app(portName, imagePath,
                  [&status] { status = RunTerminalDialog(portName, imagePath); });
    app.InitInstance(commandLine);
    return ToProcessStatus(status);
}
