// post-device-change [TITLE] [TIMEOUT_MS]
// Posts WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) to the top-level window with that title, as
// Windows does when a device arrives or leaves; Wine never sends it by itself. Waits up to
// TIMEOUT_MS for the window to appear. Exit status 0 when posted, 1 when no window was found.
#include <windows.h>

#include <cstdio>

#include "WaitForWindow.h"

namespace {
constexpr WPARAM kDevNodesChanged = 0x0007;  // DBT_DEVNODES_CHANGED
}  // namespace

int main(int argc, char** argv) {
    HWND window = WindowOfArguments("post-device-change", argc, argv);
    if (window == nullptr) {
        return 1;
    }
    if (PostMessageA(window, WM_DEVICECHANGE, kDevNodesChanged, 0) == FALSE) {
        std::fprintf(stderr, "post-device-change: PostMessage failed (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
