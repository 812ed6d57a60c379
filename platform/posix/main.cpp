// POSIX entry: the arguments are joined into one command line, as Windows would hand it over,
// and given to the same start-up as the Windows program.
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/UpdateApp.h"
#include "platform/posix/TerminalDialog.h"

int main(int argc, char** argv) {
    static std::string portName;
    static std::string imagePath;
    // Without both values the dialog never runs: the command line could not be used.
    ExitStatus status = ExitStatus::UsageError;
    UpdateApp app(portName, imagePath,
                  [&status] { status = RunTerminalDialog(portName, imagePath); });
    app.InitInstance(JoinArguments(std::vector<std::string>(argv + 1, argv + argc)));
    return ToProcessStatus(status);
}
