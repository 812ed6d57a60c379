// The station as a Windows console program: the same options, station and screen as on
// POSIX. Ctrl-C and the console's close stop every port cleanly; the table is drawn with the
// console's escape sequences where it takes them, else a line per change is printed.
#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/StationOptions.h"
#include "app/StationScreen.h"
#include "app/UploadEngine.h"
#include "image/ResourceTable.h"
#include "platform/win32/Win32PortLister.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32SerialDevice.h"

namespace {

constexpr DWORD kRedrawMs = 100;
Station* running = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    // Every control event (Ctrl-C, Ctrl-Break, the console closing) stops the ports; the
    // main thread then ends the process once each port has stopped.
    if (running != nullptr) {
        running->Stop();
    }
    return TRUE;
}

int Usage(const std::string& problem) {
    std::cerr << "ostrevan-station: " << problem << "\n\n" << StationUsageText();
    return ToProcessStatus(ExitStatus::UsageError);
}

// A console window that takes the escape sequences the table is redrawn with.
bool TableConsole() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (_isatty(_fileno(stdout)) == 0 || GetConsoleMode(out, &mode) == 0) {
        return false;
    }
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    const StationOptions options =
        ParseStationOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.error.empty()) {
        return Usage(options.error);
    }
    if (options.help) {
        std::cout << StationUsageText();
        return ToProcessStatus(ExitStatus::Updated);
    }
    if (options.version) {
        std::cout << "ostrevan-station " << UploadEngine::kVersion << "\n";
        return ToProcessStatus(ExitStatus::Updated);
    }
    static Win32ModuleResources resources(GetModuleHandleA(nullptr));
    SetModuleResources(&resources);
    ReportWriter report(options.reportPath);
    if (!report.Ok()) {
        return Usage(report.Problem());
    }
    Win32PortLister lister;
    Station station(
        ProcessClock(), options.request,
        [&lister] { return std::make_unique<Win32SerialDevice>(&lister); },
        IdentityFromPorts(lister), report);
    if (const Result image = station.Prepare(); !image) {
        std::cerr << "ostrevan-station: " << image.words() << "\n";
        return ToProcessStatus(ExitStatus::ImageUnusable);
    }
    StationScreen screen(std::cout, TableConsole(), options.request.repeat);
    running = &station;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    station.Start();
    // No device-change notices reach a console program: each port looks on its own ticks.
    while (!station.Finished()) {
        Sleep(kRedrawMs);
        screen.Update(station.Rows());
    }
    const ExitStatus status = station.Wait();
    screen.Finish(station.Rows());
    if (station.LostReports() != 0) {
        std::cerr << "ostrevan-station: " << station.LostReports()
                  << " report lines could not be written to " << options.reportPath << "\n";
    }
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    running = nullptr;
    return ToProcessStatus(status);
}
