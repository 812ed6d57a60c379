#include "app/UpdateDialog.h"

#include <utility>

#include "engine/FormatText.h"
#include "targets/TargetCatalogue.h"

UpdateDialog::UpdateDialog(EngineApi& engine, DialogView& view, Clock& clock, std::string portName,
                           std::string imagePath, Frontend frontend, TargetChoice choice)
    : engine_(engine),
      view_(view),
      clock_(clock),
      portName_(std::move(portName)),
      imagePath_(std::move(imagePath)),
      frontend_(frontend),
      choice_(std::move(choice)) {}

bool UpdateDialog::OnInitDialog() {
    // An image that cannot be written whole is refused before the device hears a byte. The
    // bytes read now are the ones the upload writes.
    const Result image = engine_.CheckImage(imagePath_);
    if (!image) {
        Refuse(ExitStatus::ImageUnusable, image.words(), image.words());
        return true;
    }
    SetStatusLine("Initializing...");
    engine_.StartThreads();
    TryGreet(true);
    // The timer runs from the start: it retries a port that is not there yet, and looks for
    // the device's re-appearance, which no notification may announce.
    if (!closing_) {
        view_.StartTimer(kTimerPeriodMs);
    }
    return true;
}

int UpdateDialog::OnDeviceChange() {
    // Once the upload is asked for, the port and the image are the worker's, and the outcome
    // is the request's: nothing that another device does may disturb either.
    if (uploadRequested_ || closing_) {
        return 0;
    }
    if (!deviceReady_) {
        TryGreet(false);
    } else {
        Look(true);
    }
    return 0;
}

void UpdateDialog::OnTimer() {
    if (closing_) {
        return;
    }
    if (uploadRequested_) {
        FollowUpload();
    } else if (!deviceReady_) {
        // A denied port that has just appeared is looked at every tick of its short grace.
        if (clock_.NowMs() - portTriedAtMs_ >= (denied_ ? kTimerPeriodMs : kPortRetryMs)) {
            TryGreet(true);
        }
    } else {
        Look(false);
    }
}

void UpdateDialog::OnDestroy() {
    // Greeted, the device has left its application for its loader: only a finished update
    // brings it back.
    const bool deviceTouched = deviceReady_ && !uploadFinished_;
    engine_.Shutdown();
    if (frontend_ == Frontend::Terminal && outcome_ == ExitStatus::Stopped) {
        SetStatusLine(deviceTouched ? "Update stopped: the device may need the update again."
                                    : "Stopped before anything was sent to the device.");
    }
}

void UpdateDialog::TryGreet(bool pauseFirst) {
    portTriedAtMs_ = clock_.NowMs();
    // A name the platform does not know fails before the keeper has reported anything, so
    // IsPortReady alone would still read as ready.
    if (!engine_.OpenPort(portName_) || !engine_.IsPortReady()) {
        ReportPort();
        return;
    }
    denied_ = false;
    SetStatusLine("Port Open.");
    if (choice_.Boot()) {
        // A device in its boot mode has no application to greet and does not re-appear.
        deviceReady_ = true;
        StartUpload();
        return;
    }
    if (pauseFirst) {
        clock_.SleepMs(kHandshakePauseMs);
    }
    // Taken before the first token: a device that re-appears at once must still count as one.
    greetedPort_ = engine_.PortGeneration();
    RunHandshake();
    greetedAtMs_ = clock_.NowMs();
}

void UpdateDialog::ReportPort() {
    const PortReport report = engine_.DescribePort(portName_);
    if (report.condition == PortCondition::NotSerial) {
        const std::string text = report.path + " is not a serial port";
        Refuse(ExitStatus::PortUnusable, text, text);
        return;
    }
    if (RefuseDenied(report, portWasMissing_) || report.condition == PortCondition::Denied) {
        return;
    }
    const uint64_t now = clock_.NowMs();
    if (report.condition == PortCondition::Missing && !portWasMissing_) {
        portWasMissing_ = true;
        missingSinceMs_ = now;
    }
    // The window keeps "Initializing..." as its only word on a port it waits for.
    if (frontend_ != Frontend::Terminal) {
        return;
    }
    switch (report.condition) {
        case PortCondition::Missing: {
            std::string line = "Waiting for " + report.path + "...";
            // The line changes, and is shown again, only when the ports there are change.
            if (now - missingSinceMs_ >= kMissingListMs) {
                line += " (" + PortNamesLine(engine_.ListPorts()) + ")";
            }
            SetStatusLine(line);
            break;
        }
        case PortCondition::Busy:
            SetStatusLine(report.path + " is Locked by Another Device!" +
                          (report.detail.empty() ? "" : " (" + report.detail + ")"));
            break;
        case PortCondition::Failed:
            SetStatusLine(report.error.empty() ? report.path + " Serial Port Open Error!"
                                               : report.error);
            break;
        default:
            break;
    }
}

bool UpdateDialog::RefuseDenied(const PortReport& report, bool justAppeared) {
    if (report.condition != PortCondition::Denied) {
        denied_ = false;
        return false;
    }
    const uint64_t now = clock_.NowMs();
    if (!denied_) {
        denied_ = true;
        deniedSinceMs_ = now;
    }
    if (justAppeared && now - deniedSinceMs_ < kDeniedGraceMs) {
        return false;
    }
    const std::string text =
        report.detail.empty() ? report.path + " Serial Port Open Error!" : report.detail;
    Refuse(ExitStatus::PortUnusable, text, text);
    return true;
}

void UpdateDialog::Look(bool notified) {
    if (choice_.Boot()) {
        StartUpload();
        return;
    }
    engine_.CheckDevice();
    bool back = engine_.PortGeneration() != greetedPort_ && engine_.IsPortReady();
    // The device re-appeared on a node this user may not open (yet).
    if (!back && !engine_.IsPortReady() && RefuseDenied(engine_.DescribePort(portName_), true)) {
        return;
    }
    if (!back && notified && !engine_.TellsReplacedDevice()) {
        // The platform cannot tell this device from another: the notification is the only
        // hint, and reopening the port is how a re-appeared device is reached.
        back = engine_.OpenPort(portName_) && engine_.IsPortReady();
    }
    const uint32_t patience = applicationAnswered_ ? kReappearWaitMs : kUnansweredWaitMs;
    if (back || clock_.NowMs() - greetedAtMs_ >= patience) {
        StartUpload();
    }
}

void UpdateDialog::StartUpload() {
    // Loaded once: a port that is not ready yet is tried again by the next look. The image
    // is the one read and checked at the start, not read again.
    if (!imageLoaded_) {
        const Result loaded = engine_.LoadImage(imagePath_);
        if (loaded.code() == Result::Code::Busy) {
            return;  // a later look tries again
        }
        if (!loaded) {
            RefuseImage(loaded);
            return;
        }
        imageLoaded_ = true;
    }
    if (const Result started = engine_.StartUpload(); !started) {
        if (started.code() == Result::Code::ImageUnusable) {
            RefuseImage(started);
        }
        return;  // the port is not ready: a later look tries again
    }
    uploadRequested_ = true;
    SetStatusLine("Upload Starting...");
    view_.StartTimer(kTimerPeriodMs);
}

void UpdateDialog::FollowUpload() {
    std::string status = engine_.GetStatusText();
    if (choice_.Boot() && status == kConnectText) {
        status = FormatText("%s: put the Ostrevan into its boot mode (%s)", kConnectText,
                            Targets().NameOf(choice_.targetType).c_str());
    }
    view_.SetProgressRange(1, 1000);
    view_.SetProgressPosition(engine_.GetProgress());
    const uint16_t progress = engine_.GetProgress();
    if (progress != 0) {
        SetStatusLine(status + " " + std::to_string(progress / 10) + "%");
    } else {
        SetStatusLine(status);
    }
    if (status == kProgrammingText) {
        programmingSeen_ = true;
    }
    const UploadState state = engine_.GetState();
    // Completion is the engine's fact, not what a tick happened to see: an upload may end
    // between two ticks.
    if (state == UploadState::Succeeded && choice_.run) {
        // A run image writes nothing: its success is the section loaded and started.
        uploadFinished_ = true;
        outcome_ = ExitStatus::Updated;
        SetStatusLine(kStartedText);
        view_.Close();
        return;
    }
    if (state == UploadState::Succeeded && (programmingSeen_ || engine_.ProgrammingRan())) {
        uploadFinished_ = true;
        outcome_ = ExitStatus::Updated;
        SetStatusLine("Uploading Complete.");
        view_.Close();
        return;
    }
    if (state == UploadState::Failed || state == UploadState::Succeeded) {
        // The reason is the one the failed step gave, not a line found in the log. A request
        // that succeeded without writing the flash updated nothing either.
        const Result result = engine_.LastResult();
        std::string reason = result.words();
        if (result.ok()) {
            reason = ErrorText("nothing was programmed");
        }
        view_.StopTimer();
        uploadFinished_ = true;
        outcome_ = FailedUpdateStatus(result);
        failureReason_ = reason.empty() ? kFailureText : reason;
        view_.ShowErrorBox(reason.empty() ? kFailureText : kFailureText + ("\n\n" + reason),
                           "Error");
        closing_ = true;
        view_.Close();
    }
}

void UpdateDialog::RefuseImage(const Result& image) {
    const std::string problem =
        image.words().empty() ? ErrorText("image open FAILED") : image.words();
    Refuse(ExitStatus::ImageUnusable, problem, std::string(kFailureText) + "\n\n" + problem);
}

void UpdateDialog::Refuse(ExitStatus outcome, const std::string& statusLine,
                          const std::string& boxText) {
    closing_ = true;
    outcome_ = outcome;
    failureReason_ = statusLine;
    view_.StopTimer();
    SetStatusLine(statusLine);
    view_.ShowErrorBox(boxText, "Error");
    view_.Close();
}

void UpdateDialog::SetStatusLine(const std::string& text) {
    statusLine_ = text;
    view_.SetStatusLine(statusLine_);
}

void UpdateDialog::SendText(const std::string& text) {
    for (char c : text) {
        engine_.PutByte(static_cast<uint8_t>(c));
    }
}

std::string UpdateDialog::ReceiveText() {
    std::string text;
    uint8_t byte = 0;
    while (text.size() < kReceiveLimit && engine_.GetByte(byte)) {
        const bool shown = byte >= 0x20 || byte == '\r' || byte == '\n';
        text.push_back(shown ? static_cast<char>(byte) : '.');
    }
    return text;
}

void UpdateDialog::RunHandshake() {
    // The replies do not gate anything: a silent device is greeted all the same. Whether the
    // application answered only tells how long its re-appearance is worth waiting for.
    SendText("SA-28\r\n");
    clock_.SleepMs(kHandshakePauseMs);
    std::string answer = ReceiveText();
    SetStatusLine("Found Ostrevan.");
    SendText("KV2-8\r\n");
    answer += ReceiveText();
    // Anywhere in what came since the greeting: a device may print a banner before its
    // answer, a byte may be left in the ring, and a slow answer comes with the second read.
    applicationAnswered_ = answer.find("SA-77") != std::string::npos;
    SetStatusLine("Ready to Upload.");
    deviceReady_ = true;
}
