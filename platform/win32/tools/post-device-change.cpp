// post-device-change [TITLE] [TIMEOUT_MS]
// Posts WM_DEVICECHANGE (DBT_DEVNODES_CHANGED) to the top-level window with that title, as
// Windows does when a device arrives or leaves; Wine never sends it by itself. Waits up to
// TIMEOUT_MS for the window to appear. Exit status 0 when posted, 1 when no window was found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr UINT_PTR kDevNodesChanged = 0x0007;  // DBT_DEVNODES_CHANGED
constexpr DWORD kLookEveryMs = 50;
}  // namespace

int main(int argc, char** argv) {
    const char* title = argc > 1 ? argv[1] : "KV3/4 Application Update";
    const DWORD timeoutMs =
        argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 10000;
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(nullptr, title);
        if (window != nullptr) {
            if (PostMessageA(window, WM_DEVICECHANGE, kDevNodesChanged, 0) != FALSE) {
                return 0;
            }
            std::fprintf(stderr, "post-device-change: PostMessage failed (%lu)\n", GetLastError());
            return 1;
        }
        if (GetTickCount() - start >= timeoutMs) {
            std::fprintf(stderr, "post-device-change: no window titled \"%s\"\n", title);
            return 1;
        }
        Sleep(kLookEveryMs);
    }
}
