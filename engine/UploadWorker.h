#pragma once
// The worker: its thread serves one request at a time, and it is the context the request's
// protocols report through. The engine hands requests over and follows them through the
// public operations; the context is private, so only the worker's own thread, running a
// request, reaches it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/Clock.h"
#include "engine/CommLink.h"
#include "engine/Event.h"
#include "engine/Locked.h"
#include "engine/LogQueue.h"
#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "engine/UploadRequest.h"

class UploadWorker : private ProtocolContext {
  public:
    static constexpr uint16_t kLogCapacity = 8192;

    UploadWorker(Clock& clock, LockedValue32& stopRequested, CommLink& link,
                 WorkerRequests& requests);
    UploadWorker(const UploadWorker&) = delete;
    UploadWorker& operator=(const UploadWorker&) = delete;

    // Hands the request over, a queue of one: false, with nothing changed, while the one
    // before is still waiting or running.
    bool Raise(UploadRequest request);
    void RequestCancel();
    // From a request being raised until the worker has served it.
    bool IsRequestRunning();
    bool HasSucceeded();
    // The last request ended without success and was neither cancelled nor stopped.
    bool HasFailed();
    // What the last request came to, with its reason; success before any has ended.
    Result LastResult();
    uint16_t Progress();
    // How far the request has come: a value of `phase`.
    uint16_t Phase();
    std::string StatusText();
    // The flash programming of the current (or last) request has begun.
    bool HasProgrammingRun();
    // Bytes the programming has written and will write in all, over every section.
    uint32_t ProgrammedBytes();
    uint32_t BytesToProgram();
    // What the last request learnt from the flash loader; empty before it answered.
    LoaderFacts Loader();
    // The oldest log line, which leaves the queue.
    std::optional<std::string> TakeLogLine();
    // Saves a stopping thread the rest of its current wait.
    void Wake() { workerWakeEvent.Pulse(); }
    bool IsThreadRunning();

    // The thread function: the request loop, IsThreadRunning true while it runs.
    void ThreadMain();

  private:
    // The context, for the request's protocols.
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
    CommLink& Link() override { return link_; }
    Clock& GetClock() override { return clock_; }
    void LoaderIdentified(const LoaderFacts& facts) override;

    bool StopRequested() { return stopRequested_.Get() != 0; }
    bool WaitForWake();
    void RunLoop();
    // What every new request starts from; the request is handed over only after it, so the
    // worker never serves a request with the outcome of the one before.
    void ResetOutcome();
    void Serve(const UploadRequest& request);
    // What a request that did not succeed comes to: an abort when stopped or cancelled; when
    // its device left, that, whatever its steps reported.
    Result Unsuccessful(const Result& result);

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
    // 1 from a request being raised until it has been served.
    LockedValue32 requestRaised{0};
    LockedValue32 cancelRequest{0};
    LockedValue32 succeeded{0};
    // 1 when the last request ended without success and was neither cancelled nor stopped, so
    // the dialog can report the failure instead of waiting for good.
    LockedValue32 failed{0};
    LockedValue16 phase{0};
    LockedValue16 progress{0};
    LockedText statusText{""};

    // The request handed over and not yet taken; each lock is held for one move alone.
    std::mutex slotLock_;
    std::unique_ptr<UploadRequest> slot_;
    std::mutex resultLock_;
    Result lastResult_;
    LoaderFacts loaderFacts_;

    Clock& clock_;
    LockedValue32& stopRequested_;
    CommLink& link_;
    WorkerRequests& requests_;
    // The request's device (worker thread only).
    DepartureWatch deviceWatch_;
};
