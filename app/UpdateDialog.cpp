#include "app/UpdateDialog.h"

#include <utility>

UpdateDialog::UpdateDialog(EngineApi& engine, DialogView& view, Clock& clock, std::string portName,
                           std::string imagePath)
    : engine_(engine),
      view_(view),
      clock_(clock),
      portName_(std::move(portName)),
      imagePath_(std::move(imagePath)) {}

bool UpdateDialog::OnInitDialog() {
    // An image that cannot be written whole is refused before the device hears a byte.
    const std::string problem = engine_.CheckImage(imagePath_);
    if (!problem.empty()) {
        SetStatusLine(problem);
        outcome_ = ExitStatus::ImageUnusable;
        view_.ShowErrorBox(problem, "Error");
        view_.Close();
        return true;
    }
    SetStatusLine("Initializing...");
    engine_.StartThreads();
    // A name the platform does not know fails before the keeper has reported anything, so
    // IsPortReady alone would still read as ready.
    if (engine_.OpenPort(portName_) && engine_.IsPortReady()) {
        SetStatusLine("Port Open.");
        clock_.SleepMs(kHandshakePauseMs);
        RunHandshake();
    }
    return true;
}

int UpdateDialog::OnDeviceChange() {
    // The worker owns the port and the image until its request ends; reopening the port here
    // would close it under a running upload.
    if (engine_.IsRequestRunning()) {
        return 0;
    }
    // An outcome that the next tick reports is not overtaken by a new upload, which would
    // clear it: a burst of notifications may still be queued when a request ends.
    const int state = engine_.GetState();
    if (state == -1 || (state == 100 && programmingSeen_)) {
        return 0;
    }
    // The notification of a device that leaves must not start an upload on a port that is gone.
    if (!engine_.OpenPort(portName_) || !engine_.IsPortReady()) {
        return 0;
    }
    if (!deviceReady_) {
        SetStatusLine("Port Open.");
        RunHandshake();
    }
    clock_.SleepMs(kHandshakePauseMs);
    // An image that failed to load may leave the previous one's sections behind.
    if (!engine_.LoadImage(imagePath_)) {
        return 0;
    }
    if (engine_.StartUpload() && !uploadFinished_) {
        SetStatusLine("Upload Starting...");
        view_.StartTimer(kTimerPeriodMs);
    }
    return 0;
}

void UpdateDialog::OnTimer() {
    const std::string status = engine_.GetStatusText();
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
    const int state = engine_.GetState();
    if (state == 100 && programmingSeen_) {
        uploadFinished_ = true;
        outcome_ = ExitStatus::Updated;
        SetStatusLine("Uploading Complete.");
        view_.Close();
    } else if (state == -1) {
        view_.StopTimer();
        uploadFinished_ = true;
        outcome_ = ExitStatus::UpdateFailed;
        view_.ShowErrorBox("Upload Failed.  Please try again.", "Error");
        view_.Close();
    }
}

void UpdateDialog::OnDestroy() {
    engine_.Shutdown();
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
    // The replies are read so they do not pile up, but not compared: a silent device is
    // greeted all the same.
    SendText("SA-28\r\n");
    clock_.SleepMs(kHandshakePauseMs);
    ReceiveText();
    SetStatusLine("Found Ostrevan.");
    SendText("KV2-8\r\n");
    ReceiveText();
    SetStatusLine("Ready to Upload.");
    deviceReady_ = true;
}
