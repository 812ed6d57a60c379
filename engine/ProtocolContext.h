#pragma once
// What protocol code sees of the request it runs in: reporting, the abort check with the
// pacing that honours it, the link and the clock. Every status change, every log line and the
// start of flash programming each go through one method, so whoever implements the context
// sees all of them.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/Clock.h"
#include "engine/CommLink.h"
#include "engine/LoaderFacts.h"
#include "engine/Result.h"
#include "engine/UploadRequest.h"

// How far a request has come, as its `phase` value tells it.
namespace phase {
constexpr uint16_t kStart = 0;       // an upload sequence has begun
constexpr uint16_t kImageOpen = 1;   // a boot upload's image is open: the loader is loaded next
constexpr uint16_t kErase = 2;       // the loader erases a section
constexpr uint16_t kProgram = 3;     // the loader programs a section
constexpr uint16_t kRunSection = 4;  // a run image's section is parsed
}  // namespace phase

// Log lines and the status line alone: what the image reader reports through.
class Reporter {
  public:
    virtual ~Reporter() = default;
    // One line without a terminator; the empty line is allowed.
    virtual void Log(const std::string& line) = 0;
    virtual void SetStatus(const std::string& text) = 0;
};

class ProtocolContext : public Reporter {
  public:
    virtual void SetPhase(uint16_t phase) = 0;
    // Per mille of the current stage.
    virtual void SetProgress(uint16_t perMille) = 0;
    // The device's flash is about to be changed.
    virtual void ProgrammingStarted() = 0;
    // The programming is under way and will write this many bytes over every section.
    virtual void ProgrammingRuns(uint32_t bytesToProgram) = 0;
    // A record of this many bytes is in the flash.
    virtual void AddProgrammed(uint32_t bytes) = 0;
    // The process is stopping, the request was cancelled, or the device the request talks to
    // has left (see WatchDevice).
    virtual bool IsAborted() = 0;
    // From now on (watch true) the device behind the port is the one this request talks to, and
    // its leaving ends the request: IsAborted turns true, and the request fails with words that
    // name the port. Off (false) while a device is being looked for that may still come and go.
    virtual void WatchDevice(bool watch) = 0;
    // The request's cancel flag alone, for the "Cancel..." lines.
    virtual bool CancelRequested() = 0;
    // Paces a wait in 100 ms slices, looking at the stop flag between them.
    virtual void InterruptibleSleep(uint32_t ms) = 0;
    virtual CommLink& Link() = 0;
    virtual Clock& GetClock() = 0;
    // A boot connection's loader has answered: a limit on waiting for it is over.
    virtual void BootConnected() {}
    // The flash loader has told its version and identified the flash chip.
    virtual void LoaderIdentified(const LoaderFacts& /*facts*/) {}
};

// What the worker runs for a request, on its own thread: the sequences live above it.
class WorkerRequests {
  public:
    virtual ~WorkerRequests() = default;
    virtual Result Serve(ProtocolContext& context, const UploadRequest& request) = 0;
};

// What WatchDevice asks for: whether the watched device has left, as the link reported it.
// Once seen, its leaving is remembered until the watch is set again, even if the port is
// replaced meanwhile.
class DepartureWatch {
  public:
    void Watch(bool watch) {
        watching_ = watch;
        left_ = false;
    }
    bool Left(CommLink& link) {
        if (watching_ && !left_ && link.DeviceLeft()) {
            left_ = true;
        }
        return left_;
    }

  private:
    bool watching_ = false;
    bool left_ = false;
};

// The failure of a request whose device left, naming the port.
std::string DeviceLeftText(CommLink& link);

// The wait of InterruptibleSleep: whole 100 ms slices while more than that is left, `stopped`
// looked at between them; the rest is waited in full.
void SleepInSlices(Clock& clock, uint32_t ms, const std::function<bool()>& stopped);
