#include "engine/UploadWorker.h"

#include <utility>

UploadWorker::UploadWorker(Clock& clock, LockedValue32& stopRequested, CommLink& link,
                           WorkerRequests& requests)
    : clock_(clock), stopRequested_(stopRequested), link_(link), requests_(requests) {
    logQueue.Init(kLogCapacity);
}

void UploadWorker::Log(const std::string& line) {
    logQueue.Push(line);
}

void UploadWorker::SetStatus(const std::string& text) {
    statusText.Set(text);
}

void UploadWorker::SetPhase(uint16_t value) {
    phase.Set(value);
}

uint16_t UploadWorker::Phase() {
    return phase.Get();
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
    return cancelRequest.Get() != 0 || deviceWatch_.Left(link_);
}

bool UploadWorker::CancelRequested() {
    return cancelRequest.Get() != 0;
}

void UploadWorker::InterruptibleSleep(uint32_t ms) {
    SleepInSlices(clock_, ms, [this] { return StopRequested(); });
}

void UploadWorker::ResetOutcome() {
    cancelRequest.Set(0);
    succeeded.Set(0);
    failed.Set(0);
    programmingRan.Set(0);
    bytesProgrammed.Set(0);
    bytesToProgram.Set(0);
    const std::lock_guard<std::mutex> lock(resultLock_);
    lastResult_ = Result();
    loaderFacts_ = LoaderFacts();
}

LoaderFacts UploadWorker::Loader() {
    const std::lock_guard<std::mutex> lock(resultLock_);
    return loaderFacts_;
}

void UploadWorker::LoaderIdentified(const LoaderFacts& facts) {
    const std::lock_guard<std::mutex> lock(resultLock_);
    loaderFacts_ = facts;
}

bool UploadWorker::Raise(UploadRequest request) {
    if (IsRequestRunning()) {
        return false;
    }
    ResetOutcome();
    // Raised before the request is in the slot: the worker, which clears it once it has
    // served what it took, can never clear it before the request is there.
    requestRaised.Set(1);
    {
        const std::lock_guard<std::mutex> lock(slotLock_);
        slot_ = std::make_unique<UploadRequest>(std::move(request));
    }
    workerWakeEvent.Pulse();
    return true;
}

void UploadWorker::RequestCancel() {
    cancelRequest.Set(1);
    workerWakeEvent.Pulse();
}

bool UploadWorker::IsRequestRunning() {
    return requestRaised.Get() != 0;
}

bool UploadWorker::HasSucceeded() {
    return succeeded.Get() != 0;
}

bool UploadWorker::HasFailed() {
    return failed.Get() != 0;
}

Result UploadWorker::LastResult() {
    const std::lock_guard<std::mutex> lock(resultLock_);
    return lastResult_;
}

uint16_t UploadWorker::Progress() {
    return progress.Get();
}

std::string UploadWorker::StatusText() {
    return statusText.Get();
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

bool UploadWorker::IsThreadRunning() {
    return workerRunning.Get() != 0;
}

bool UploadWorker::WaitForWake() {
    return workerWakeEvent.Wait(300);
}

void UploadWorker::Serve(const UploadRequest& request) {
    const bool flash = request.job == UploadRequest::Job::FlashUpload;
    Log("**********************");
    Log(flash ? "*** FLASH Upload ****" : "*** Run ARM Image ***");
    Log("**********************");
    // The worker's own: the port keeper reopening the port meanwhile must not change what is
    // put back.
    const int32_t savedSpeed = link_.GetSpeed();
    deviceWatch_.Watch(false);
    programmingStarted.Set(0);
    Result result = requests_.Serve(*this, request);
    programmingStarted.Set(0);
    if (!result) {
        result = Unsuccessful(result);
    }
    deviceWatch_.Watch(false);
    // The result is there before the state that tells the dialog to read it.
    {
        const std::lock_guard<std::mutex> lock(resultLock_);
        lastResult_ = result;
    }
    if (result) {
        succeeded.Set(1);
    } else if (result.code() != Result::Code::Aborted) {
        failed.Set(1);
    }
    if (link_.GetSpeed() != savedSpeed) {
        link_.SetSpeed(savedSpeed);
    }
    Log("**********************");
    // Cleared last: until then the port and its speed are the request's, and the next
    // request is refused.
    requestRaised.Set(0);
}

Result UploadWorker::Unsuccessful(const Result& result) {
    if (StopRequested() || CancelRequested()) {
        return Result::Aborted();
    }
    if (deviceWatch_.Left(link_)) {
        // Last, so that it is the reason shown, not the steps that ended for want of answers.
        const std::string text = DeviceLeftText(link_);
        SetStatus(text);
        Log(text);
        return Result::Failure(Result::Code::DeviceLeft, text);
    }
    return result;
}

void UploadWorker::RunLoop() {
    while (!StopRequested()) {
        WaitForWake();
        std::unique_ptr<UploadRequest> request;
        {
            const std::lock_guard<std::mutex> lock(slotLock_);
            request = std::move(slot_);
        }
        if (request) {
            Serve(*request);
        }
    }
}

void UploadWorker::ThreadMain() {
    workerRunning.Set(1);
    RunLoop();
    workerRunning.Set(0);
}
