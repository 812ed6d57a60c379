// dialog-status [TITLE] [TIMEOUT_MS]
// Follows the status line (control 1003) of the top-level window with that title and prints
// every new text on its own line, until the window is gone. Waits up to TIMEOUT_MS for the
// window to appear. The window's screen rectangle goes to standard error first, as
// "window LEFT TOP WIDTH HEIGHT", for screenshots. Exit status 0 when the window was seen, 1
// when it never appeared.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "../resource.h"
#include "WaitForWindow.h"

namespace {
constexpr DWORD kLookEveryMs = 20;
// A dialog busy in a handler (the handshake sleeps) answers later; the text is read again.
constexpr UINT kAnswerWaitMs = 200;
}  // namespace

int main(int argc, char** argv) {
    // Lines end in a plain line feed, for the shell scripts that read them.
    _setmode(_fileno(stdout), _O_BINARY);
    HWND window = WindowOfArguments("dialog-status", argc, argv);
    if (window == nullptr) {
        return 1;
    }
    RECT rect{};
    GetWindowRect(window, &rect);
    std::fprintf(stderr, "window %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top);
    std::string last;
    bool first = true;
    while (IsWindow(window)) {
        HWND status = GetDlgItem(window, IDC_STATUS);
        char text[512] = {};
        DWORD_PTR length = 0;
        if (status != nullptr &&
            SendMessageTimeoutA(status, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                SMTO_ABORTIFHUNG, kAnswerWaitMs, &length) != 0 &&
            (first || last != text)) {
            last = text;
            first = false;
            std::printf("%s\n", text);
            std::fflush(stdout);
        }
        Sleep(kLookEveryMs);
    }
    return 0;
}
