#pragma once
// The one source of time: every wait of the system reads NowMs and sleeps through SleepMs,
// so tests can run a 10-second retry on a virtual clock in microseconds.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint64_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

// Production clock: std::chrono::steady_clock and a real sleep.
class SteadyClock : public Clock {
  public:
    uint64_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

// Test clock: SleepMs advances time at once. An optional hook runs after every advance,
// so a simulated device can act on the new time.
class VirtualClock : public Clock {
  public:
    explicit VirtualClock(uint64_t startMs = 0) : now_(startMs) {}
    uint64_t NowMs() override { return now_.load(); }
    void SleepMs(uint32_t ms) override;
    void Advance(uint64_t ms) { SleepMs(static_cast<uint32_t>(ms)); }
    void SetAdvanceHook(std::function<void(uint64_t nowMs)> hook);
    // Total time slept, so tests can tell how a wait was paced.
    uint64_t SleptMs() const { return slept_.load(); }

  private:
    std::atomic<uint64_t> now_;
    std::atomic<uint64_t> slept_{0};
    std::mutex hookMutex_;
    std::function<void(uint64_t)> hook_;
};

// The process's clock, for code that runs outside any test seam (main and the platform layer).
SteadyClock& ProcessClock();
