#include "engine/UploadWorker.h"

UploadWorker::UploadWorker(Clock& clock, EngineShared& engine, CommLink* link)
    : clock_(clock), engine_(engine), link_(link) {
    logQueue.Init(kLogCapacity);
}

void UploadWorker::Log(const std::string& line) {
    if (line.rfind("ERROR: ", 0) == 0) {
        lastError.Set(line);
    }
    logQueue.Push(line);
}

void UploadWorker::SetStatus(const std::string& text) {
    statusText.Set(text);
}

void UploadWorker::SetPhase(uint16_t value) {
    phase.Set(value);
}

void UploadWorker::SetProgress(uint16_t perMille) {
    progress.Set(perMille);
}

void UploadWorker::ProgrammingStarted() {
    programmingStarted.Set(1);
}

void UploadWorker::ProgrammingRuns(uint32_t bytes) {
    programmingRan.Set(1);
    bytesToProgram.Set(static_cast<int32_t>(bytes));
}

void UploadWorker::AddProgrammed(uint32_t bytes) {
    bytesProgrammed.Set(bytesProgrammed.Get() + static_cast<int32_t>(bytes));
}

bool UploadWorker::IsAborted() {
    if (StopRequested()) {
        return true;
    }
    return cancelRequest.Get() != 0 || deviceWatch_.Left(*link_);
}

bool UploadWorker::CancelRequested() {
    return cancelRequest.Get() != 0;
}

void UploadWorker::InterruptibleSleep(uint32_t ms) {
    SleepInSlices(clock_, ms, [this] { return StopRequested(); });
}

uint8_t UploadWorker::BaudSelection() {
    return engine_.baudSelection.Get();
}

uint8_t UploadWorker::TargetType() {
    return engine_.targetType.Get();
}

std::string UploadWorker::ImagePath() {
    return engine_.imagePathText.Get();
}

void UploadWorker::RequestSucceeded() {
    succeeded.Set(1);
}

void UploadWorker::ResetOutcome() {
    cancelRequest.Set(0);
    succeeded.Set(0);
    failed.Set(0);
    programmingRan.Set(0);
    bytesProgrammed.Set(0);
    bytesToProgram.Set(0);
    lastError.Set("");
}

void UploadWorker::RequestFlashUpload() {
    ResetOutcome();
    flashUploadRequest.Set(1);
    workerWakeEvent.Pulse();
}

void UploadWorker::RequestRunImage() {
    ResetOutcome();
    runImageRequest.Set(1);
    workerWakeEvent.Pulse();
}

void UploadWorker::RequestCancel() {
    cancelRequest.Set(1);
    workerWakeEvent.Pulse();
}

bool UploadWorker::IsRequestRunning() {
    return flashUploadRequest.Get() != 0 || runImageRequest.Get() != 0;
}

bool UploadWorker::HasSucceeded() {
    return succeeded.Get() != 0;
}

bool UploadWorker::HasFailed() {
    return failed.Get() != 0;
}

uint16_t UploadWorker::Progress() {
    return progress.Get();
}

std::string UploadWorker::StatusText() {
    return statusText.Get();
}

std::string UploadWorker::LastError() {
    return lastError.Get();
}

bool UploadWorker::HasProgrammingRun() {
    return programmingRan.Get() != 0;
}

uint32_t UploadWorker::ProgrammedBytes() {
    return static_cast<uint32_t>(bytesProgrammed.Get());
}

uint32_t UploadWorker::BytesToProgram() {
    return static_cast<uint32_t>(bytesToProgram.Get());
}

std::optional<std::string> UploadWorker::TakeLogLine() {
    return logQueue.Take();
}

void UploadWorker::ClearOutcome() {
    succeeded.Set(0);
    failed.Set(0);
}

bool UploadWorker::IsThreadRunning() {
    return workerRunning.Get() != 0;
}

bool UploadWorker::WaitForWake() {
    return workerWakeEvent.Wait(300);
}

void UploadWorker::Serve(LockedValue32& request, const char* banner, bool flash) {
    Log("**********************");
    Log(banner);
    Log("**********************");
    link_->savedSpeed = link_->GetSpeed();
    deviceWatch_.Watch(false);
    if (requests_ != nullptr) {
        if (flash) {
            programmingStarted.Set(0);
            requests_->FlashUpload();
            programmingStarted.Set(0);
        } else {
            requests_->RunImage();
        }
    }
    if (succeeded.Get() == 0 && !StopRequested() && !CancelRequested()) {
        ReportDeviceLeft();
        failed.Set(1);
    }
    deviceWatch_.Watch(false);
    // Cleared only now, so a second request of the same kind raised meanwhile is absorbed.
    request.Set(0);
    if (link_->GetSpeed() != link_->savedSpeed) {
        link_->SetSpeed(link_->savedSpeed);
    }
    Log("**********************");
}

void UploadWorker::ReportDeviceLeft() {
    if (deviceWatch_.Left(*link_)) {
        // Last, so that it is the reason shown, not the steps that ended for want of answers.
        const std::string text = DeviceLeftText(*link_);
        SetStatus(text);
        Log(text);
    }
}

void UploadWorker::RunLoop() {
    while (!StopRequested()) {
        WaitForWake();
        if (runImageRequest.Get() != 0) {
            Serve(runImageRequest, "*** Run ARM Image ***", false);
        }
        if (flashUploadRequest.Get() != 0) {
            Serve(flashUploadRequest, "*** FLASH Upload ****", true);
        }
    }
}

void UploadWorker::ThreadMain() {
    workerRunning.Set(1);
    RunLoop();
    workerRunning.Set(0);
}
