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

bool UploadWorker::IsAborted() {
    if (StopRequested()) {
        return true;
    }
    return cancelRequest.Get() != 0;
}

void UploadWorker::InterruptibleSleep(uint32_t ms) {
    // The stop flag is looked at only between whole slices: a pause of 100 ms or less always
    // runs to its end.
    while (ms > 100) {
        clock_.SleepMs(100);
        ms -= 100;
        if (StopRequested()) {
            return;
        }
    }
    clock_.SleepMs(ms);
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

bool UploadWorker::WaitForWake() {
    return workerWakeEvent.Wait(300);
}

void UploadWorker::Serve(LockedValue32& request, const char* banner, bool flash) {
    Log("**********************");
    Log(banner);
    Log("**********************");
    link_->savedSpeed = link_->GetSpeed();
    if (requests_ != nullptr) {
        if (flash) {
            requests_->FlashUpload();
        } else {
            requests_->RunImage();
        }
    }
    if (succeeded.Get() == 0 && !IsAborted()) {
        failed.Set(1);
    }
    // Cleared only now, so a second request of the same kind raised meanwhile is absorbed.
    request.Set(0);
    if (link_->GetSpeed() != link_->savedSpeed) {
        link_->SetSpeed(link_->savedSpeed);
    }
    Log("**********************");
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
