#pragma once
// The worker: its thread serves one request at a time, and it is the context the request's
// protocols report through. The engine raises and follows requests through the public
// operations; the request bodies see the worker only as a RequestContext.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/Clock.h"
#include "engine/CommLink.h"
#include "engine/Event.h"
#include "engine/Locked.h"
#include "engine/LogQueue.h"
#include "engine/ProtocolContext.h"

// Engine members that the worker's operations read.
struct EngineShared {
    LockedValue32 stopRequested{0};
    LockedValue8 targetType{0};
    LockedValue8 baudSelection{0};
    LockedText imagePathText{""};
};

class UploadWorker : public RequestContext {
  public:
    static constexpr uint16_t kLogCapacity = 8192;

    UploadWorker(Clock& clock, EngineShared& engine, CommLink* link);
    UploadWorker(const UploadWorker&) = delete;
    UploadWorker& operator=(const UploadWorker&) = delete;

    void SetRequests(WorkerRequests* requests) { requests_ = requests; }
    void SetLink(CommLink* link) { link_ = link; }

    // Raising and following requests, from the engine's thread.
    void RequestFlashUpload();
    void RequestRunImage();
    void RequestCancel();
    // From a request being raised until the worker has served it.
    bool IsRequestRunning();
    bool HasSucceeded();
    // The last request ended without success and was neither cancelled nor stopped.
    bool HasFailed();
    uint16_t Progress();
    std::string StatusText();
    // The last "ERROR: " line the current (or last) request logged.
    std::string LastError();
    // The flash programming of the current (or last) request has begun.
    bool HasProgrammingRun();
    // Bytes the programming has written and will write in all, over every section.
    uint32_t ProgrammedBytes();
    uint32_t BytesToProgram();
    // The oldest log line, which leaves the queue.
    std::optional<std::string> TakeLogLine();
    // Forgets the last request's outcome.
    void ClearOutcome();
    // Saves a stopping thread the rest of its current wait.
    void Wake() { workerWakeEvent.Pulse(); }
    bool IsThreadRunning();

    // The thread function: the request loop, IsThreadRunning true while it runs.
    void ThreadMain();

  private:
    // RequestContext, for the request bodies and their protocols.
    void Log(const std::string& line) override;
    void SetStatus(const std::string& text) override;
    void SetPhase(uint16_t value) override;
    void SetProgress(uint16_t perMille) override;
    void ProgrammingStarted() override;
    void ProgrammingRuns(uint32_t bytesToProgram) override;
    void AddProgrammed(uint32_t bytes) override;
    bool IsAborted() override;
    void WatchDevice(bool watch) override { deviceWatch_.Watch(watch); }
    bool CancelRequested() override;
    void InterruptibleSleep(uint32_t ms) override;
    CommLink& Link() override { return *link_; }
    Clock& GetClock() override { return clock_; }
    uint8_t BaudSelection() override;
    uint8_t TargetType() override;
    std::string ImagePath() override;
    void RequestSucceeded() override;

    bool StopRequested() { return engine_.stopRequested.Get() != 0; }
    bool WaitForWake();
    void RunLoop();
    // What every new request starts from; the request flag is raised only after it, so the
    // worker never serves a request with the outcome of the one before.
    void ResetOutcome();
    void Serve(LockedValue32& request, const char* banner, bool flash);
    // A request that failed because its device left says so, whatever its steps reported.
    void ReportDeviceLeft();

    LogQueue logQueue;
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
    LockedValue32 runImageRequest{0};
    LockedValue32 cancelRequest{0};
    LockedValue32 succeeded{0};
    // 1 when the last request ended without success and was neither cancelled nor stopped, so
    // the dialog can report the failure instead of waiting for good. Cleared by every new
    // request; the worker sets it itself once the request body has returned.
    LockedValue32 failed{0};
    LockedValue16 phase{0};
    LockedValue16 progress{0};
    LockedText statusText{""};
    // The last "ERROR: " line the current (or last) request logged: why it failed.
    LockedText lastError{""};

    Clock& clock_;
    EngineShared& engine_;
    CommLink* link_;
    WorkerRequests* requests_ = nullptr;
    // The request's device (worker thread only).
    DepartureWatch deviceWatch_;
};
