#pragma once
// The worker: the members every long operation reports through, the shared services
// (Log, IsAborted, InterruptibleSleep) and the request loop.
#include <cstdint>
#include <string>

#include "engine/Clock.h"
#include "engine/CommLink.h"
#include "engine/Event.h"
#include "engine/Locked.h"
#include "engine/LogQueue.h"

// Engine members that the worker's operations read.
struct EngineShared {
    LockedValue32 stopRequested{0};
    LockedValue8 targetType{0};
    LockedValue8 baudSelection{0};
    LockedText imagePathText{""};
};

// What a request runs. The worker knows the requests; the sequences live above it.
class WorkerRequests {
  public:
    virtual ~WorkerRequests() = default;
    virtual void FlashUpload() = 0;
    virtual void RunImage() = 0;
};

class UploadWorker {
  public:
    static constexpr uint16_t kLogCapacity = 8192;

    UploadWorker(Clock& clock, EngineShared& engine, CommLink* link);
    UploadWorker(const UploadWorker&) = delete;
    UploadWorker& operator=(const UploadWorker&) = delete;

    Event workerWakeEvent{Event::Mode::Manual};
    LockedValue32 workerRunning{0};
    LockedValue32 programmingStarted{0};
    // 1 once the flash programming of the current (or last) request has begun; unlike
    // programmingStarted it stays after the request, so its success can be told from one
    // that wrote nothing.
    LockedValue32 programmingRan{0};
    // Bytes the flash programming has written and will write in all, over every section: the
    // progress value restarts with each stage and section, these do not.
    LockedValue32 bytesProgrammed{0};
    LockedValue32 bytesToProgram{0};
    LockedValue32 flashUploadRequest{0};
    std::string sfldVersion;
    std::string pfldVersion;
    LockedValue32 runImageRequest{0};
    LockedValue32 cancelRequest{0};
    LockedValue32 succeeded{0};
    // 1 when the last request ended without success and was neither cancelled nor stopped, so
    // the dialog can report the failure instead of waiting for good. Cleared by every new
    // request; the worker sets it itself once the request body has returned, so a body only
    // sets `succeeded` (setting this one as well does no harm).
    LockedValue32 failed{0};
    LockedValue16 phase{0};
    LockedValue16 progress{0};
    LockedText statusText{""};
    bool RecordWaitMode = false;
    LogQueue logQueue;
    // The last "ERROR: " line the current (or last) request logged: why it failed.
    LockedText lastError{""};

    void Log(const std::string& line);
    void Log(const char* line) { Log(std::string(line)); }
    bool StopRequested() { return engine_.stopRequested.Get() != 0; }
    bool IsAborted();
    void InterruptibleSleep(uint32_t ms);

    void RequestFlashUpload();
    void RequestRunImage();
    void RequestCancel();
    bool WaitForWake();
    void RunLoop();
    // The thread function: workerRunning is 1 while it runs.
    void ThreadMain();

    void SetRequests(WorkerRequests* requests) { requests_ = requests; }
    void SetLink(CommLink* link) { link_ = link; }
    CommLink& Link() { return *link_; }
    Clock& GetClock() { return clock_; }
    EngineShared& Engine() { return engine_; }

  private:
    // What every new request starts from; the request flag is raised only after it, so the
    // worker never serves a request with the outcome of the one before.
    void ResetOutcome();
    void Serve(LockedValue32& request, const char* banner, bool flash);

    Clock& clock_;
    EngineShared& engine_;
    CommLink* link_;
    WorkerRequests* requests_ = nullptr;
};
