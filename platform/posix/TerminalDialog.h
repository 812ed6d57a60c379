#pragma once
// Runs the main dialog in the terminal: builds the engine over the POSIX serial driver, the
// terminal view, the device watch and the loop, and returns once the dialog has closed and
// the engine has stopped.
#include <string>

#include "app/ExitStatus.h"
#include "app/TargetChoice.h"
#include "serial/PortInfo.h"

struct TerminalRun {
    std::string portName;
    std::string imagePath;
    bool verbose = false;    // the detailed log on standard error
    std::string logPath;     // the detailed log appended to this file
    std::string reportPath;  // a JSON line on the update appended to this file
    TargetChoice target;
    PortLister* lister = nullptr;  // finds usb:SERIAL ports and names the ports there are
};

ExitStatus RunTerminalDialog(const TerminalRun& run);
