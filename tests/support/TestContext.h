#pragma once
// A protocol context for tests: what the protocols report is kept in plain view, the abort
// check follows the test's stop and cancel flags and the watched device.
#include <string>
#include <vector>

#include "engine/Locked.h"
#include "engine/LogQueue.h"
#include "engine/ProtocolContext.h"
#include "engine/UploadWorker.h"
#include "support/WorkerRun.h"

class TestContext : public ProtocolContext {
  public:
    explicit TestContext(Clock& clock, CommLink* link = nullptr) : clock_(clock), link_(link) {
        logQueue.Init(UploadWorker::kLogCapacity);
    }

    void SetLink(CommLink* link) { link_ = link; }
    // The lines logged since the last call.
    std::vector<std::string> TakeLog() {
        return DrainLog([this] { return logQueue.Take(); });
    }

    void Log(const std::string& line) override { logQueue.Push(line); }
    void SetStatus(const std::string& text) override {
        statusText.Set(text);
        statusSeen.push_back(text);
    }
    void SetPhase(uint16_t value) override {
        phase.Set(value);
        phasesSeen.push_back(value);
    }
    void SetProgress(uint16_t perMille) override { progress.Set(perMille); }
    void ProgrammingStarted() override { programmingStarted.Set(1); }
    void ProgrammingRuns(uint32_t bytes) override {
        programmingRan.Set(1);
        bytesToProgram.Set(static_cast<int32_t>(bytes));
    }
    void AddProgrammed(uint32_t bytes) override {
        bytesProgrammed.Set(bytesProgrammed.Get() + static_cast<int32_t>(bytes));
    }
    bool IsAborted() override {
        return StopRequested() || CancelRequested() ||
               (link_ != nullptr && deviceWatch.Left(*link_));
    }
    void WatchDevice(bool watch) override {
        deviceWatch.Watch(watch);
        watchesSeen.push_back(watch);
    }
    bool CancelRequested() override { return cancelRequest.Get() != 0; }
    void InterruptibleSleep(uint32_t ms) override {
        SleepInSlices(clock_, ms, [this] { return StopRequested(); });
    }
    CommLink& Link() override { return *link_; }
    Clock& GetClock() override { return clock_; }
    void LoaderIdentified(const LoaderFacts& facts) override { loaderFacts = facts; }

    LockedValue32 stopRequested{0};
    LockedValue32 programmingStarted{0};
    LockedValue32 programmingRan{0};
    LockedValue32 bytesProgrammed{0};
    LockedValue32 bytesToProgram{0};
    LockedValue32 cancelRequest{0};
    LockedValue16 phase{0};
    LockedValue16 progress{0};
    LockedText statusText{""};
    // Every status text and phase set, in order.
    std::vector<std::string> statusSeen;
    std::vector<uint16_t> phasesSeen;
    std::vector<bool> watchesSeen;
    DepartureWatch deviceWatch;
    LogQueue logQueue;
    LoaderFacts loaderFacts;

  private:
    bool StopRequested() { return stopRequested.Get() != 0; }

    Clock& clock_;
    CommLink* link_;
};
