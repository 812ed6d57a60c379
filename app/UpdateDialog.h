#pragma once
// The main dialog's logic: greets the device when its port is there, starts the upload once
// the device has come back as its flash loader, and follows the upload on a timer until it
// completes or fails. The platform's view draws it and calls the handlers on the dialog's one
// thread.
//
// A device-change notification is only a hint to look: other devices come and go, and a
// device takes from a fraction of a second to several seconds to re-appear. So the dialog
// looks on every notification and every tick: the device is back when its port was opened
// anew since the greeting (the old one went away, or its name now stands for another device);
// where the platform cannot tell that, a notification after the greeting counts. A device
// that never re-appears may be running its loader already, so after a while the upload
// starts anyway: its connect phase looks for a loader on the port.
//
// With a boot target there is no greeting and no re-appearance: the upload (or the run image)
// starts as soon as the port is open, and the user is asked to put the device into its boot
// mode while its boot loader is looked for.
#include <cstdint>
#include <string>

#include "app/DialogView.h"
#include "app/EngineApi.h"
#include "app/ExitStatus.h"
#include "app/TargetChoice.h"
#include "engine/Clock.h"

class UpdateDialog {
  public:
    // The Windows dialog shows exactly its own texts; a terminal tool also says what it waits
    // for and how it ended.
    enum class Frontend { Window, Terminal };

    static constexpr uint32_t kTimerPeriodMs = 250;
    static constexpr uint32_t kHandshakePauseMs = 600;
    static constexpr size_t kReceiveLimit = 1024;
    static constexpr const char* kProgrammingText = "FLASH Programming";
    static constexpr const char* kFailureText = "Upload Failed.  Please try again.";
    // A port that is missing or held by another program is tried again this often.
    static constexpr uint32_t kPortRetryMs = 1000;
    // After a greeting that the application answered: how long its re-appearance is waited for
    // before the port is searched for a running loader all the same.
    static constexpr uint32_t kReappearWaitMs = 10000;
    // After a greeting that nothing answered: the device may be running its loader already.
    static constexpr uint32_t kUnansweredWaitMs = 2000;
    // A port this user may not open ends the dialog at once; one that has just appeared (a
    // late plug, the device's re-appearance) is tried this long first: udev sets a new node's
    // group a moment after the node appears.
    static constexpr uint32_t kDeniedGraceMs = 2000;
    // A port still missing after this long: the status line also names the ports there are.
    static constexpr uint32_t kMissingListMs = 10000;

    // While a boot loader is looked for, the status line says what to do.
    static constexpr const char* kConnectText = "Connect target";
    static constexpr const char* kStartedText = "Image loaded and started.";

    UpdateDialog(EngineApi& engine, DialogView& view, Clock& clock, std::string portName,
                 std::string imagePath, Frontend frontend = Frontend::Window,
                 TargetChoice choice = TargetChoice());

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
    // True once the upload has been asked for: the request's own status follows from then on.
    bool UploadRequested() const { return uploadRequested_; }
    // How the dialog ended: a dialog closed before any result was stopped by the user.
    ExitStatus Outcome() const { return outcome_; }
    // Why the dialog ended in a failure, in the failed step's words; empty otherwise.
    const std::string& FailureReason() const { return failureReason_; }

  private:
    // Opens the port and greets the device; when the port cannot be used, says why.
    void TryGreet(bool pauseFirst);
    void ReportPort();
    // A denied port, seen now: true when it is to be given up (and the dialog ended).
    bool RefuseDenied(const PortReport& report, bool justAppeared);
    // Looks whether the device has come back, and starts the upload when it has or when it
    // has been waited for long enough.
    void Look(bool notified);
    void StartUpload();
    void FollowUpload();
    // Shows a failure that ends the dialog: the status line, the error box, then closing.
    void Refuse(ExitStatus outcome, const std::string& statusLine, const std::string& boxText);
    // An image that cannot be uploaded, for the reason the engine gave.
    void RefuseImage(const Result& image);

    EngineApi& engine_;
    DialogView& view_;
    Clock& clock_;
    const std::string portName_;
    const std::string imagePath_;
    const Frontend frontend_;
    const TargetChoice choice_;
    std::string statusLine_;
    bool deviceReady_ = false;
    bool uploadFinished_ = false;
    bool programmingSeen_ = false;
    bool uploadRequested_ = false;
    bool imageLoaded_ = false;
    bool closing_ = false;
    // The greeting: when it ended, the port it went to, and whether the application answered.
    uint64_t greetedAtMs_ = 0;
    uint32_t greetedPort_ = 0;
    bool applicationAnswered_ = false;
    uint64_t portTriedAtMs_ = 0;
    // The port was missing once (it has appeared since, if it opens), and since when.
    bool portWasMissing_ = false;
    uint64_t missingSinceMs_ = 0;
    // The port has been denied since deniedSinceMs_, without a success or another answer.
    bool denied_ = false;
    uint64_t deniedSinceMs_ = 0;
    ExitStatus outcome_ = ExitStatus::Stopped;
    std::string failureReason_;
};
