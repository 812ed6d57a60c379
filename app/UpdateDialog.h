#pragma once
// The main dialog's logic: greets the device when the dialog opens, starts the upload when a
// device change is reported, and follows it on a timer until it completes or fails. The
// platform's view draws it and calls the handlers on the dialog's one thread.
#include <cstdint>
#include <string>

#include "app/DialogView.h"
#include "app/EngineApi.h"
#include "app/ExitStatus.h"
#include "engine/Clock.h"

class UpdateDialog {
  public:
    static constexpr uint32_t kTimerPeriodMs = 250;
    static constexpr uint32_t kHandshakePauseMs = 600;
    static constexpr size_t kReceiveLimit = 1024;
    static constexpr const char* kProgrammingText = "FLASH Programming";

    UpdateDialog(EngineApi& engine, DialogView& view, Clock& clock, std::string portName,
                 std::string imagePath);

    bool OnInitDialog();
    int OnDeviceChange();
    void OnTimer();
    void OnDestroy();

    void SetStatusLine(const std::string& text);
    void SendText(const std::string& text);
    std::string ReceiveText();
    void RunHandshake();

    const std::string& StatusLine() const { return statusLine_; }
    bool DeviceReady() const { return deviceReady_; }
    bool UploadFinished() const { return uploadFinished_; }
    // How the dialog ended: a dialog closed before any result was stopped by the user.
    ExitStatus Outcome() const { return outcome_; }

  private:
    EngineApi& engine_;
    DialogView& view_;
    Clock& clock_;
    const std::string portName_;
    const std::string imagePath_;
    std::string statusLine_;
    bool deviceReady_ = false;
    bool uploadFinished_ = false;
    bool programmingSeen_ = false;
    ExitStatus outcome_ = ExitStatus::Stopped;
};
