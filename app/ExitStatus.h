#pragma once
// How the process ends, the same on every platform: 0 only when the flash was updated, so
// that a script can rely on the status alone.
#include "engine/Result.h"

enum class ExitStatus : int {
    Updated = 0,        // the device holds the image
    UpdateFailed = 1,   // the update ran and failed; the device may need it again
    UsageError = 2,     // the command line cannot be used
    PortUnusable = 3,   // the port is not a serial device, or cannot be opened at all
    ImageUnusable = 4,  // the image file is missing, unreadable or damaged
    Stopped = 5,        // the user stopped the program (Escape, Ctrl-C, SIGTERM, close box)
};

constexpr int ToProcessStatus(ExitStatus status) {
    return static_cast<int>(status);
}

// How an update that did not write the flash ends, by the reason of the step that failed.
inline ExitStatus FailedUpdateStatus(const Result& result) {
    return result.code() == Result::Code::ImageUnusable || result.code() == Result::Code::NoLoader
               ? ExitStatus::ImageUnusable
               : ExitStatus::UpdateFailed;
}
