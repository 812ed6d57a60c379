// POSIX entry: the arguments are joined into one command line, as Windows would hand it over,
// and given to the same start-up as the Windows program.
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/UpdateApp.h"
#include "platform/posix/TerminalDialog.h"

int main(int argc, char** argv) {
    static std::string portName;
    static std::string imagePath;
    UpdateApp app(portName, imagePath, [] { RunTerminalDialog(portName, imagePath); });
    app.InitInstance(JoinArguments(std::vector<std::string>(argv + 1, argv + argc)));
    return 0;
}
