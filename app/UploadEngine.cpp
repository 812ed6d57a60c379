#include "app/UploadEngine.h"

#include <chrono>
#include <cstdio>

#include "image/ImageCheck.h"
#include "image/ImageReport.h"

namespace {

// Waits for a thread function to leave: the join blocks; a flag still set afterwards belongs
// to a thread function run by someone else, which is looked at in short sleeps.
void WaitUntilEnded(LockedValue32& running, std::thread& thread) {
    if (thread.joinable()) {
        thread.join();
    }
    while (running.Get() != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

// The worker and the keeper keep references to members built after them (the shared values,
// the port); they only use them once the threads run.
UploadEngine::UploadEngine(Clock& clock, SerialDevice& device, WorkerRequests* requests)
    : worker(clock, shared, nullptr), keeper(clock, shared.stopRequested, device), clock_(clock) {
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
    // The keeper answers the name by reopening the port, which drops what the transmit ring
    // still holds: the handshake's last text, queued just before a device change arrives,
    // would never reach the device, and it would never re-appear.
    for (uint32_t waited = 0;
         Link().IsOpen() != 0 && Link().TransmitDone() == 0 && waited < kDrainGraceMs;
         waited += kOpenLookMs) {
        clock_.SleepMs(kOpenLookMs);
    }
    if (keeper.OpenPort(name)) {
        return true;
    }
    // Within OpenPort's 100 ms a busy keeper may not have got to the new name yet, and the
    // text then still tells how the name before it fared (at start: no port selected). An
    // existing port is given a while longer before it counts as unopenable.
    if (!keeper.PortExists(name) || keeper.PortKeeperRunning.Get() == 0) {
        return false;
    }
    for (uint32_t waited = 0; waited < kOpenGraceMs; waited += kOpenLookMs) {
        clock_.SleepMs(kOpenLookMs);
        if (IsPortReady()) {
            return true;
        }
    }
    return false;
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
    if (!OpenImage(worker, image)) {
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
    if (worker.succeeded.Get() != 0) {
        return 100;
    }
    if (worker.failed.Get() != 0) {
        return -1;
    }
    return worker.progress.Get() != 0 ? 1 : 0;
}

uint16_t UploadEngine::GetProgress() {
    return worker.progress.Get();
}

std::string UploadEngine::GetStatusText() {
    // A failed request keeps its last status, which says why ("ERROR: ..."), for the tick that
    // shows the failure box.
    const int state = GetState();
    return state == 1 || state == -1 ? worker.statusText.Get() : std::string();
}

void UploadEngine::Shutdown() {
    shared.stopRequested.Set(1);
    // The pulses only save the threads the rest of their current wait.
    keeper.PortWakeEvent.Pulse();
    WaitUntilEnded(keeper.PortKeeperRunning, keeperThread_);
    worker.workerWakeEvent.Pulse();
    WaitUntilEnded(worker.workerRunning, workerThread_);
}

bool UploadEngine::IsRequestRunning() {
    return worker.flashUploadRequest.Get() != 0 || worker.runImageRequest.Get() != 0;
}

std::string UploadEngine::TakeLogLine() {
    return worker.logQueue.Take().value_or(std::string());
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
    worker.succeeded.Set(0);
    worker.failed.Set(0);
    Link().Purge();
    Link().CheckDevice();
    bootReloadRequested.Set(0);
}
