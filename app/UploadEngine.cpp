#include "app/UploadEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "image/ImageCheck.h"
#include "image/ImageReport.h"

namespace {

// Waits for a thread function to leave: the join blocks; a flag still set afterwards belongs
// to a thread function run by someone else, which is looked at in short sleeps.
void WaitUntilEnded(const std::function<bool()>& running, std::thread& thread) {
    if (thread.joinable()) {
        thread.join();
    }
    while (running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

// The worker and the keeper keep references to members built after them (the shared values,
// the port); they only use them once the threads run.
UploadEngine::UploadEngine(Clock& clock, SerialDevice& device, WorkerRequests* requests)
    : worker(clock, shared, nullptr),
      keeper(clock, shared.stopRequested, device),
      clock_(clock),
      device_(device) {
    worker.SetLink(&keeper.port);
    worker.SetRequests(requests);
}

UploadEngine::~UploadEngine() {
    if (keeperThread_.joinable() || workerThread_.joinable()) {
        Shutdown();
    }
}

std::string UploadEngine::CheckImage(const std::string& path) {
    return CheckImageFile(path).problem;
}

void UploadEngine::StartThreads() {
    if (!keeperThread_.joinable()) {
        keeperThread_ = std::thread([this] {
            keeper.ThreadMain();
            keeperEnded_.store(true);
        });
        // An OpenPort that comes before the keeper runs opens the port itself, and the keeper
        // then starts by closing it, dropping what was written meanwhile. So the keeper is
        // running before anyone can ask for a port.
        while (keeper.PortKeeperRunning.Get() == 0 && !keeperEnded_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (!workerThread_.joinable()) {
        workerThread_ = std::thread([this] { worker.ThreadMain(); });
    }
}

bool UploadEngine::OpenPort(const std::string& name) {
    const uint64_t start = clock_.NowMs();
    const auto left = [&](uint32_t reserveMs) -> uint32_t {
        const uint64_t used = clock_.NowMs() - start;
        return used + reserveMs >= kOpenPortMaxMs
                   ? 0
                   : static_cast<uint32_t>(kOpenPortMaxMs - reserveMs - used);
    };
    // The keeper answers the name by reopening the port, which drops what the transmit ring
    // still holds: the handshake's last text, queued just before a device change arrives,
    // would never reach the device, and it would never re-appear. The wait leaves room for
    // the keeper's own settling time, and a driver that holds the write costs no more.
    while (Link().IsOpen() != 0 && left(PortKeeper::kOpenSettleMs) > 0 &&
           keeper.port.TransmitDoneWithin(kOpenLookMs) == 0) {
        clock_.SleepMs(std::min(kOpenLookMs, left(PortKeeper::kOpenSettleMs)));
    }
    const bool opened = keeper.OpenPort(name);
    if (keeper.PortKeeperRunning.Get() == 0) {
        return opened;
    }
    if (!opened && !keeper.PortExists(name)) {
        return false;
    }
    // The keeper's answer counts only once it has acted on this name: a busy keeper still
    // shows how the name before fared, and the port it then reopens would pass for the device
    // coming back. An existing port is given the rest of the time before it counts as
    // unopenable.
    const auto ready = [&] { return keeper.NameTaken() && IsPortReady(); };
    while (!ready() && left(0) > 0) {
        clock_.SleepMs(std::min(kOpenLookMs, left(0)));
    }
    return ready();
}

bool UploadEngine::IsPortReady() {
    return keeper.PortErrorText.Get().empty();
}

void UploadEngine::PutByte(uint8_t byte) {
    Link().WriteByte(byte);
}

bool UploadEngine::GetByte(uint8_t& byte) {
    return Link().ReadHandshakeByte(byte);
}

bool UploadEngine::LoadImage(const std::string& path) {
    if (IsRequestRunning()) {
        return false;
    }
    shared.imagePathText.Set(path);
    if (!OpenImage(worker, path, image)) {
        return false;
    }
    image.LoadSections();
    image.MarkActiveSections();
    bootReloadRequested.Set(0);
    return true;
}

bool UploadEngine::IsImageValid() {
    return image.UploadProblem().empty();
}

bool UploadEngine::StartUpload() {
    if (IsRequestRunning() || !IsImageValid() || !IsPortReady()) {
        return false;
    }
    shared.targetType.Set(kRunningSfldTarget);
    image.sections[0].active = 1;
    if (bootReloadRequested.Get() != 0) {
        image.sections[0].skipBootReload = 0;
        bootReloadRequested.Set(0);
    }
    worker.RequestFlashUpload();
    return true;
}

int UploadEngine::GetState() {
    if (worker.HasSucceeded()) {
        return uploadstate::kSucceeded;
    }
    if (worker.HasFailed()) {
        return uploadstate::kFailed;
    }
    return worker.Progress() != 0 ? uploadstate::kRunning : uploadstate::kIdle;
}

uint16_t UploadEngine::GetProgress() {
    return worker.Progress();
}

std::string UploadEngine::GetStatusText() {
    // A failed request keeps its last status, which says why ("ERROR: ..."), for the tick that
    // shows the failure box.
    const int state = GetState();
    return state == uploadstate::kRunning || state == uploadstate::kFailed ? worker.StatusText()
                                                                           : std::string();
}

void UploadEngine::Shutdown() {
    shared.stopRequested.Set(1);
    // The pulses only save the threads the rest of their current wait.
    keeper.PortWakeEvent.Pulse();
    WaitUntilEnded([this] { return keeper.PortKeeperRunning.Get() != 0; }, keeperThread_);
    worker.Wake();
    WaitUntilEnded([this] { return worker.IsThreadRunning(); }, workerThread_);
}

bool UploadEngine::IsRequestRunning() {
    return worker.IsRequestRunning();
}

PortReport UploadEngine::DescribePort(const std::string& name) {
    PortReport report;
    report.path = device_.DevicePath(name);
    if (report.path.empty()) {
        report.path = name;
    }
    report.error = keeper.PortErrorText.Get();
    const SerialDevice::OpenResult tried = keeper.port.LastOpenResult();
    if (device_.IsNotSerialPort(name) || tried == SerialDevice::OpenResult::NotSerial) {
        report.condition = PortCondition::NotSerial;
    } else if (!keeper.PortExists(name)) {
        report.condition = PortCondition::Missing;
    } else if (report.error.empty() && Link().IsOpen() != 0) {
        report.condition = PortCondition::Ready;
    } else if (tried == SerialDevice::OpenResult::Busy) {
        report.condition = PortCondition::Busy;
    } else {
        report.condition = PortCondition::Failed;
    }
    return report;
}

void UploadEngine::CheckDevice() {
    Link().CheckDevice();
    if (Link().IsOpen() == 0) {
        // The keeper would reopen it within its cycle; there is no reason to wait for that.
        keeper.PortWakeEvent.Pulse();
    }
}

std::string UploadEngine::FailureReason() {
    // The status says which step failed, the log line the cause, when they differ.
    std::string reason;
    const std::string status = worker.StatusText();
    if (status.rfind("ERROR: ", 0) == 0) {
        reason = status;
    }
    const std::string logged = worker.LastError();
    if (!logged.empty() && logged != reason) {
        reason += reason.empty() ? logged : "\n" + logged;
    }
    return reason;
}

std::string UploadEngine::TakeLogLine() {
    return worker.TakeLogLine().value_or(std::string());
}

void UploadEngine::CancelUpload() {
    worker.RequestCancel();
}

std::string UploadEngine::GetPortError() {
    return keeper.PortErrorText.Get();
}

std::string UploadEngine::GetImageRange() {
    if (!IsImageValid()) {
        return std::string();
    }
    const ImageSection& section = image.sections[0];
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X - 0x%08X", static_cast<unsigned>(section.start),
                  static_cast<unsigned>(section.start + section.size));
    return text;
}

void UploadEngine::ResetUpload() {
    worker.ClearOutcome();
    Link().Purge();
    Link().CheckDevice();
    bootReloadRequested.Set(0);
}
