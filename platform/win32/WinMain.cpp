// Windows entry: the command line without the program's name goes to the same start-up as
// on POSIX, which runs the dialog modally. The exit status tells how the update ended.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/UpdateApp.h"
#include "app/UploadEngine.h"
#include "image/ResourceTable.h"
#include "platform/win32/Win32CommandLine.h"
#include "platform/win32/Win32Dialog.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32SerialDevice.h"
#include "targets/UploadSequences.h"

namespace {
std::string portName;
std::string imagePath;
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    static Win32ModuleResources resources(instance);
    SetModuleResources(&resources);
    static Win32SerialDevice device;
    static UploadEngine engine(ProcessClock(), device);
    static UploadSequences sequences(engine.worker, engine.image);
    engine.SetRequests(&sequences);

    // Without both values the dialog never runs: the command line could not be used.
    ExitStatus status = ExitStatus::UsageError;
    UpdateApp app(portName, imagePath, [instance, &status] {
        status = RunUpdateDialog(instance, engine, ProcessClock(), portName, imagePath);
    });
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    app.InitInstance(ArgumentsOf(GetCommandLineA()));
    return ToProcessStatus(status);
}
