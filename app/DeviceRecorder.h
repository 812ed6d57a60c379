#pragma once
// Follows one device's update for its report: when the device was first seen, how many bytes
// the programming wrote and at what rate. Fed on the dialog's thread at every tick.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "app/DeviceReport.h"
#include "app/UpdateDialog.h"
#include "app/UploadEngine.h"
#include "engine/Clock.h"
#include "engine/TargetType.h"

class DeviceRecorder {
  public:
    // port: the port as reports name it, and as identify is asked for it; identify may be
    // empty.
    DeviceRecorder(Clock& clock, std::string port, TargetType target,
                   IdentityLookup identify = nullptr);

    void Follow(const UpdateDialog& dialog, UploadEngine& engine);
    // Once the dialog has ended (after its OnDestroy).
    DeviceReport Report(const UpdateDialog& dialog, UploadEngine& engine);

    // A device has been greeted, or the dialog ended for a reason other than a stop: the
    // port has served a device worth a report line.
    bool Served(const UpdateDialog& dialog) const;
    uint64_t StartedMs() const { return startedMs_; }
    uint32_t Bytes() const { return bytes_; }
    // What the platform tells of the device, asked when it has answered the greeting and again
    // once it is back for the upload (its node may have changed); nothing where it cannot tell.
    const std::optional<DeviceIdentity>& Identity() const { return identity_; }
    // Bytes per second of programming, from the first bytes seen to the last; nothing until
    // two samples apart have seen bytes.
    std::optional<double> Rate() const;

  private:
    Clock& clock_;
    const std::string port_;
    const TargetType target_;
    const IdentityLookup identify_;
    std::optional<DeviceIdentity> identity_;
    bool askedReady_ = false;
    bool askedUpload_ = false;
    bool seen_ = false;
    uint64_t startedMs_;
    std::time_t startedSeconds_;
    uint64_t firstBytesMs_ = 0;
    uint32_t firstBytes_ = 0;
    uint64_t lastBytesMs_ = 0;
    uint32_t bytes_ = 0;
};
