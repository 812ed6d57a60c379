// answer-box [TITLE] [TIMEOUT_MS]
// Waits up to TIMEOUT_MS for a message box with that title, prints its text on standard
// output, and presses its OK button, as its user would once read. Exit status 0 when a box
// was answered, 1 when none appeared.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "WaitForWindow.h"

namespace {
// A message box shows its text in a static control with this id.
constexpr int kBoxTextId = 0xFFFF;
}  // namespace

int main(int argc, char** argv) {
    // Lines end in a plain line feed, for the shell scripts that read them.
    _setmode(_fileno(stdout), _O_BINARY);
    HWND box = WindowOfArguments("answer-box", argc, argv);
    if (box == nullptr) {
        return 1;
    }
    char text[4096] = {};
    GetDlgItemTextA(box, kBoxTextId, text, sizeof text);
    // The box's own line ends are CR LF.
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c != '\r') {
            std::putchar(*c);
        }
    }
    std::putchar('\n');
    std::fflush(stdout);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return 0;
}
