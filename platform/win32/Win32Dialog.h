#pragma once
// The main dialog as a real window: template 102 from the module's resources, drawn by
// Win32DialogView and driven by the same UpdateDialog logic as the terminal view.
#include <windows.h>

#include <functional>
#include <string>

#include "app/DialogView.h"
#include "app/EngineApi.h"
#include "app/ExitStatus.h"
#include "app/LogSink.h"
#include "app/TargetChoice.h"
#include "app/UpdateDialog.h"
#include "engine/Clock.h"

class Win32DialogView : public DialogView {
  public:
    static constexpr UINT_PTR kTimerId = 1;

    void Attach(HWND window) { window_ = window; }

    void SetStatusLine(const std::string& text) override;
    void SetProgressRange(int32_t minimum, int32_t maximum) override;
    void SetProgressPosition(int32_t position) override;
    void StartTimer(uint32_t periodMs) override;
    void StopTimer() override;
    void Close() override;
    void ShowErrorBox(const std::string& text, const std::string& caption) override;

  private:
    HWND window_ = nullptr;
};

// Called with the dialog on every tick and, ended true, once it has closed (a report's
// recorder follows the update so).
using DialogFollower = std::function<void(const UpdateDialog& dialog, bool ended)>;

// Runs the dialog modally until it closes; the engine has been shut down when it returns.
// The module holds the dialog template and the icon. A log, when given, follows the engine
// on every tick and gets its last lines once the dialog has closed.
ExitStatus RunUpdateDialog(HINSTANCE module, EngineApi& engine, Clock& clock,
                           const std::string& portName, const std::string& imagePath,
                           LogSink* log = nullptr, const TargetChoice& choice = TargetChoice(),
                           const DialogFollower& follower = nullptr);
