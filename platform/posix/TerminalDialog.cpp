#include "platform/posix/TerminalDialog.h"

#include <unistd.h>

#include <iostream>

#include "app/UpdateDialog.h"
#include "app/UploadEngine.h"
#include "platform/posix/DeviceWatch.h"
#include "platform/posix/DialogLoop.h"
#include "platform/posix/PosixSerialDevice.h"
#include "platform/posix/TerminalView.h"
#include "targets/UploadSequences.h"

namespace {

// Reading the controlling terminal from a background job would stop this process; any
// other input (a pipe, a terminal that is not the controlling one) can be read.
bool IsOwnKeyboard(int fd) {
    if (isatty(fd) == 0) {
        return true;
    }
    const pid_t foreground = tcgetpgrp(fd);
    return foreground == -1 || foreground == getpgrp();
}

}  // namespace

ExitStatus RunTerminalDialog(const std::string& portName, const std::string& imagePath) {
    // Before any thread starts, so that every thread inherits the blocked close signals.
    CloseSignals signals;
    Clock& clock = ProcessClock();
    PosixSerialDevice device;
    UploadEngine engine(clock, device);
    UploadSequences sequences(engine.worker, engine.image);
    engine.SetRequests(&sequences);

    TerminalView view(std::cout, isatty(STDOUT_FILENO) != 0);
    const int keyboard = IsOwnKeyboard(STDIN_FILENO) ? STDIN_FILENO : -1;
    KeyboardMode keys(keyboard);
    DeviceWatch watch(DeviceWatch::FoldersFor(device.DevicePath(portName), "/dev"));
    UpdateDialog dialog(engine, view, clock, portName, imagePath, UpdateDialog::Frontend::Terminal);

    DialogHandlers handlers;
    handlers.onInit = [&] { dialog.OnInitDialog(); };
    handlers.onTimer = [&] { dialog.OnTimer(); };
    handlers.onDeviceChange = [&] { dialog.OnDeviceChange(); };
    handlers.onDestroy = [&] { dialog.OnDestroy(); };
    DialogLoop loop(view, clock, keyboard, &watch, &signals);
    loop.Run(handlers);
    return dialog.Outcome();
}
