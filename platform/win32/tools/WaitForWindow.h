#pragma once
// The test helpers look for the dialog by its title, as it may not exist yet.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

constexpr const char* kDialogTitle = "KV3/4 Application Update";

// The top-level window with that title, or nullptr when none appeared within timeoutMs.
inline HWND WaitForWindow(const char* title, DWORD timeoutMs) {
    constexpr DWORD kLookEveryMs = 20;
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = FindWindowA(nullptr, title)) {
            return window;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return nullptr;
        }
        Sleep(kLookEveryMs);
    }
}

// Arguments: [TITLE] [TIMEOUT_MS], with the dialog's title and 10 s when left out.
inline const char* TitleArgument(int argc, char** argv) {
    return argc > 1 ? argv[1] : kDialogTitle;
}
inline DWORD TimeoutArgument(int argc, char** argv) {
    return argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 10000;
}

// The window the arguments name, waited for; nullptr, said on standard error, when none came.
inline HWND WindowOfArguments(const char* tool, int argc, char** argv) {
    const char* title = TitleArgument(argc, argv);
    HWND window = WaitForWindow(title, TimeoutArgument(argc, argv));
    if (window == nullptr) {
        std::fprintf(stderr, "%s: no window titled \"%s\"\n", tool, title);
    }
    return window;
}
