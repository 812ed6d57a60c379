#pragma once
// What the dialog's logic needs from a window: the platform draws it (a Win32 dialog, a
// terminal panel) and calls the UpdateDialog handlers on its one thread.
#include <cstdint>
#include <string>

class DialogView {
  public:
    virtual ~DialogView() = default;

    virtual void SetStatusLine(const std::string& text) = 0;
    virtual void SetProgressRange(int32_t minimum, int32_t maximum) = 0;
    virtual void SetProgressPosition(int32_t position) = 0;
    // The dialog has one timer; starting it again replaces the running one.
    virtual void StartTimer(uint32_t periodMs) = 0;
    virtual void StopTimer() = 0;
    // Like the close box: the platform ends its loop and then calls OnDestroy.
    virtual void Close() = 0;
    // A modal box with only an OK button; returns when it has been dismissed.
    virtual void ShowErrorBox(const std::string& text, const std::string& caption) = 0;
};
