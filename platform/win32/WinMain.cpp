// Windows entry: the program's own options first (--help, --version, --list, /check, /log); the
// rest of the command line goes to the same start-up as on POSIX, which runs the dialog
// modally. The exit status tells how the update ended.
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <sstream>
#include <string>

#include "app/CommandLine.h"
#include "app/DeviceRecorder.h"
#include "app/LogSink.h"
#include "app/ProgramOptions.h"
#include "app/UpdateApp.h"
#include "app/UploadEngine.h"
#include "image/ResourceTable.h"
#include "platform/win32/Win32CommandLine.h"
#include "platform/win32/Win32Dialog.h"
#include "platform/win32/Win32PortLister.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32SerialDevice.h"

namespace {
std::string portName;
std::string imagePath;
// The dialog's own title: the box speaks for the same program.
constexpr const char* kCaption = "KV3/4 Application Update";

int Answer(ExitStatus status, const std::string& text) {
    const UINT icon = status == ExitStatus::Updated ? MB_ICONINFORMATION : MB_ICONERROR;
    MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | icon);
    return ToProcessStatus(status);
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    // The image check, the port list, the usage and the version are answered in a message
    // box; nothing else is built for them, so no port is opened for the update.
    const ProgramOptions options =
        ParseProgramOptions(SplitCommandLine(ArgumentsOf(GetCommandLineA())), ProgramKind::Window);
    std::ostringstream out;
    std::ostringstream err;
    static Win32PortLister lister;
    if (const auto answered =
            AnswerWithoutUpdate(options, ProgramKind::Window, out, err, &lister)) {
        return Answer(*answered, out.str() + err.str());
    }

    static Win32ModuleResources resources(instance);
    SetModuleResources(&resources);
    static Win32SerialDevice device(&lister);
    static const std::unique_ptr<UploadEngine> engine = MakeUploadEngine(ProcessClock(), device);
    engine->Choose(options.target);
    LogSink log(options.logPath, nullptr, [] { return engine->NextLogLine(); });
    static ReportWriter report(options.reportPath);
    if (!log.Ok() || !report.Ok()) {
        return Answer(ExitStatus::UsageError,
                      "ostrevan-update: " + (log.Ok() ? report.Problem() : log.Problem()));
    }

    // Without both values the dialog never runs: the command line could not be used.
    ExitStatus status = ExitStatus::UsageError;
    UpdateApp app(portName, imagePath, [instance, &status, &log, &options] {
        DeviceRecorder recorder(ProcessClock(), portName, options.target.targetType,
                                IdentityFromPorts(lister));
        const DialogFollower follower = [&recorder](const UpdateDialog& dialog, bool ended) {
            if (!ended) {
                recorder.Follow(dialog, *engine);
            } else if (report.Wanted()) {
                report.Append(recorder.Report(dialog, *engine));
            }
        };
        status = RunUpdateDialog(instance, *engine, ProcessClock(), portName, imagePath, &log,
                                 options.target, follower);
    });
    app.InitInstance(JoinArguments(options.rest));
    return ToProcessStatus(status);
}
