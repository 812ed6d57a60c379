#include "engine/Clock.h"

#include <chrono>
#include <thread>

uint64_t SteadyClock::NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyClock::SleepMs(uint32_t ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

void VirtualClock::SleepMs(uint32_t ms) {
    const uint64_t now = now_.fetch_add(ms) + ms;
    slept_.fetch_add(ms);
    std::function<void(uint64_t)> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex_);
        hook = hook_;
    }
    if (hook) {
        hook(now);
    }
}

void VirtualClock::SetAdvanceHook(std::function<void(uint64_t)> hook) {
    std::lock_guard<std::mutex> lock(hookMutex_);
    hook_ = std::move(hook);
}

SteadyClock& ProcessClock() {
    static SteadyClock clock;
    return clock;
}
