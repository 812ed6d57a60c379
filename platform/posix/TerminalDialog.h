#pragma once
// Runs the main dialog in the terminal: builds the engine over the POSIX serial driver, the
// terminal view, the device watch and the loop, and returns once the dialog has closed and
// the engine has stopped.
#include <string>

#include "app/ExitStatus.h"

ExitStatus RunTerminalDialog(const std::string& portName, const std::string& imagePath);
