#include "platform/win32/Win32Dialog.h"

#include <commctrl.h>

#include "app/UpdateDialog.h"
#include "platform/win32/resource.h"

void Win32DialogView::SetStatusLine(const std::string& text) {
    SetDlgItemTextA(window_, IDC_STATUS, text.c_str());
}

void Win32DialogView::SetProgressRange(int32_t minimum, int32_t maximum) {
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE32, static_cast<WPARAM>(minimum),
                        static_cast<LPARAM>(maximum));
}

void Win32DialogView::SetProgressPosition(int32_t position) {
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32DialogView::StartTimer(uint32_t periodMs) {
    SetTimer(window_, kTimerId, periodMs, nullptr);
}

void Win32DialogView::StopTimer() {
    KillTimer(window_, kTimerId);
}

void Win32DialogView::Close() {
    // Sent, not posted: the caller goes on only once the close has been handled.
    SendMessageA(window_, WM_CLOSE, 0, 0);
}

void Win32DialogView::ShowErrorBox(const std::string& text, const std::string& caption) {
    MessageBoxA(window_, text.c_str(), caption.c_str(), MB_OK);
}

namespace {

struct DialogContext {
    DialogContext(HINSTANCE module, EngineApi& engine, Clock& clock, const std::string& portName,
                  const std::string& imagePath, LogSink* log, const TargetChoice& choice,
                  const DialogFollower& follower)
        : dialog(engine, view, clock, portName, imagePath, UpdateDialog::Frontend::Window, choice),
          log(log),
          follower(follower),
          icon(static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(IDI_OSTREVAN), IMAGE_ICON, 0,
                                             0, LR_DEFAULTSIZE))),
          smallIcon(static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(IDI_OSTREVAN),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0))) {}
    ~DialogContext() {
        DestroyIcon(icon);
        DestroyIcon(smallIcon);
    }
    DialogContext(const DialogContext&) = delete;
    DialogContext& operator=(const DialogContext&) = delete;

    // The log, when one is kept, takes the engine's lines on the dialog's thread.
    void FollowLog() const {
        if (log != nullptr) {
            log->Follow();
        }
        if (follower) {
            follower(dialog, false);
        }
    }

    Win32DialogView view;
    UpdateDialog dialog;
    LogSink* log;
    DialogFollower follower;
    HICON icon;
    HICON smallIcon;
};

void PaintMinimised(HWND window, HICON icon) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon);
    EndPaint(window, &paint);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* context = reinterpret_cast<DialogContext*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        context->view.Attach(window);
        SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(context->icon));
        SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(context->smallIcon));
        return context->dialog.OnInitDialog() ? TRUE : FALSE;
    }
    auto* context = reinterpret_cast<DialogContext*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (context == nullptr) {
        return FALSE;  // messages before WM_INITDIALOG
    }
    switch (message) {
        case WM_DEVICECHANGE:
            SetWindowLongPtrA(window, DWLP_MSGRESULT, context->dialog.OnDeviceChange());
            return TRUE;
        case WM_TIMER:
            if (wParam == Win32DialogView::kTimerId) {
                context->dialog.OnTimer();
                context->FollowLog();
            }
            return TRUE;
        case WM_COMMAND:
            // Escape and Enter end the dialog like its close box; it has no buttons.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
            }
            return TRUE;
        case WM_CLOSE:
            EndDialog(window, IDCANCEL);
            return TRUE;
        case WM_DESTROY:
            context->dialog.OnDestroy();
            context->FollowLog();
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            return FALSE;
        case WM_PAINT:
            if (IsIconic(window)) {
                PaintMinimised(window, context->icon);
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(context->icon);
        default:
            return FALSE;
    }
}

}  // namespace

ExitStatus RunUpdateDialog(HINSTANCE module, EngineApi& engine, Clock& clock,
                           const std::string& portName, const std::string& imagePath, LogSink* log,
                           const TargetChoice& choice, const DialogFollower& follower) {
    DialogContext context(module, engine, clock, portName, imagePath, log, choice, follower);
    DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_UPDATE), nullptr, DialogProc,
                    reinterpret_cast<LPARAM>(&context));
    if (log != nullptr) {
        log->End(context.dialog, engine);
    }
    if (follower) {
        follower(context.dialog, true);
    }
    return context.dialog.Outcome();
}
