#include "app/UpdateApp.h"

#include "app/CommandLine.h"

bool UpdateApp::InitInstance(const std::string& commandLine) {
    if (commandLine.empty()) {
        return false;
    }
    if (!ParseCommandLine(commandLine, portName_, imagePath_)) {
        return false;
    }
    if (runDialog_) {
        runDialog_();
    }
    return false;
}
