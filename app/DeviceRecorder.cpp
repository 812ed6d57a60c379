#include "app/DeviceRecorder.h"

#include <utility>

DeviceRecorder::DeviceRecorder(Clock& clock, std::string port, TargetType target,
                               IdentityLookup identify)
    : clock_(clock),
      port_(std::move(port)),
      target_(target),
      identify_(std::move(identify)),
      startedMs_(clock.NowMs()),
      startedSeconds_(std::time(nullptr)) {}

void DeviceRecorder::Follow(const UpdateDialog& dialog, UploadEngine& engine) {
    const uint64_t now = clock_.NowMs();
    if (!seen_ && (dialog.DeviceReady() || dialog.UploadRequested())) {
        // A port waited on starts its device's time when the device arrives.
        seen_ = true;
        startedMs_ = now;
        startedSeconds_ = std::time(nullptr);
    }
    // Twice per device at most: a listing of the ports is not asked for on every tick.
    const bool ask =
        (dialog.DeviceReady() && !askedReady_) || (dialog.UploadRequested() && !askedUpload_);
    if (ask && identify_) {
        askedReady_ = askedReady_ || dialog.DeviceReady();
        askedUpload_ = askedUpload_ || dialog.UploadRequested();
        if (std::optional<DeviceIdentity> identity = identify_(port_)) {
            identity_ = std::move(identity);
        }
    }
    const uint32_t bytes = engine.BytesProgrammed();
    if (bytes == 0 || bytes == bytes_) {
        return;
    }
    if (firstBytesMs_ == 0) {
        firstBytesMs_ = now;
        firstBytes_ = bytes;
    }
    lastBytesMs_ = now;
    bytes_ = bytes;
}

bool DeviceRecorder::Served(const UpdateDialog& dialog) const {
    return seen_ || dialog.Outcome() != ExitStatus::Stopped;
}

std::optional<double> DeviceRecorder::Rate() const {
    if (lastBytesMs_ <= firstBytesMs_ || bytes_ <= firstBytes_) {
        return std::nullopt;
    }
    return (bytes_ - firstBytes_) * 1000.0 / static_cast<double>(lastBytesMs_ - firstBytesMs_);
}

DeviceReport DeviceRecorder::Report(const UpdateDialog& dialog, UploadEngine& engine) {
    Follow(dialog, engine);
    DeviceReport report;
    report.port = port_;
    report.device = identity_;
    report.image = engine.CheckedImage();
    report.target = static_cast<uint8_t>(target_);
    report.startedSeconds = startedSeconds_;
    report.seconds = static_cast<double>(clock_.NowMs() - startedMs_) / 1000.0;
    report.status = dialog.Outcome();
    if (report.status == ExitStatus::Stopped) {
        report.reason = dialog.StatusLine();
    } else if (report.status != ExitStatus::Updated) {
        report.reason = dialog.FailureReason();
    }
    report.loader = engine.Loader();
    report.bytes = bytes_;
    report.rate = Rate();
    return report;
}
