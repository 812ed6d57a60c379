#include "platform/posix/TerminalDialog.h"

#include <unistd.h>

#include <iostream>
#include <memory>

#include "app/DeviceRecorder.h"
#include "app/LogSink.h"
#include "app/UpdateDialog.h"
#include "app/UploadEngine.h"
#include "platform/posix/DeviceWatch.h"
#include "platform/posix/DialogLoop.h"
#include "platform/posix/PosixSerialDevice.h"
#include "platform/posix/TerminalView.h"
#include "platform/posix/TransferMeter.h"
#include "platform/posix/UdevPortLister.h"

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

ExitStatus RunTerminalDialog(const TerminalRun& run) {
    TerminalView view(std::cout, isatty(STDOUT_FILENO) != 0);
    LogSink::Show show;
    if (run.verbose) {
        show = [&view](const std::string& line) { view.Interject(std::cerr, line); };
    }
    // Before any thread starts, so that every thread inherits the blocked close signals.
    CloseSignals signals;
    Clock& clock = ProcessClock();
    PosixSerialDevice device(run.lister);
    const std::unique_ptr<UploadEngine> engine = MakeUploadEngine(clock, device);
    engine->Choose(run.target);
    LogSink log(run.logPath, show, [&engine] { return engine->NextLogLine(); });
    ReportWriter report(run.reportPath);
    if (!log.Ok() || !report.Ok()) {
        std::cerr << "ostrevan-update: " << (log.Ok() ? report.Problem() : log.Problem()) << "\n";
        return ExitStatus::UsageError;
    }

    const int keyboard = IsOwnKeyboard(STDIN_FILENO) ? STDIN_FILENO : -1;
    KeyboardMode keys(keyboard);
    // A port named by its USB serial number appears in /dev, under whatever node.
    const std::string path = device.DevicePath(run.portName);
    DeviceWatch watch(DeviceWatch::FoldersFor(path.rfind("usb:", 0) == 0 ? "" : path, "/dev"));
    UpdateDialog dialog(*engine, view, clock, run.portName, run.imagePath,
                        UpdateDialog::Frontend::Terminal, run.target);

    DeviceRecorder recorder(
        clock, device.DevicePath(run.portName), run.target.targetType,
        run.lister != nullptr ? IdentityFromPorts(*run.lister, RealNode) : IdentityLookup());
    TransferMeter meter;
    // The boot connection's load: the flash loader, or the run image's section.
    TransferMeter loadMeter;
    uint64_t uploadStartMs = 0;
    const auto follow = [&] {
        log.Follow();
        recorder.Follow(dialog, *engine);
        if (!dialog.UploadRequested()) {
            return;
        }
        if (uploadStartMs == 0) {
            uploadStartMs = clock.NowMs();
        }
        const uint32_t loaded = engine->BytesLoaded();
        if (loaded != 0 && engine->BytesProgrammed() == 0) {
            loadMeter.Sample(clock.NowMs(), loaded, engine->BytesToLoad());
            view.SetFigures(loadMeter.Line());
            return;
        }
        meter.Sample(clock.NowMs(), engine->BytesProgrammed(), engine->BytesToProgram());
        view.SetFigures(meter.Line());
    };

    DialogHandlers handlers;
    handlers.onInit = [&] { dialog.OnInitDialog(); };
    handlers.onTimer = [&] {
        dialog.OnTimer();
        follow();
    };
    handlers.onDeviceChange = [&] { dialog.OnDeviceChange(); };
    handlers.onDestroy = [&] {
        dialog.OnDestroy();
        follow();
    };
    DialogLoop loop(view, clock, keyboard, &watch, &signals);
    loop.Run(handlers);
    if (dialog.Outcome() == ExitStatus::Updated) {
        if (engine->BytesToLoad() != 0) {
            std::cout << loadMeter.Summary("Loaded", loadMeter.SpanMs()) << std::endl;
        }
        if (!run.target.run) {
            std::cout << meter.Summary("Wrote", clock.NowMs() - uploadStartMs) << std::endl;
        }
    }
    // The log ends with what the user was told: its reader looks there first.
    log.End(dialog, *engine);
    if (report.Wanted() && !report.Append(recorder.Report(dialog, *engine))) {
        std::cerr << "ostrevan-update: the report could not be written to " << run.reportPath
                  << "\n";
    }
    return dialog.Outcome();
}
