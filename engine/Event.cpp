#include "engine/Event.h"

#include <algorithm>
#include <chrono>

void Event::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    for (auto& [waiter, index] : waiters_) {
        std::lock_guard<std::mutex> waiterLock(waiter->mutex);
        waiter->poked = true;
        waiter->cv.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

void Event::Pulse() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
    for (auto& [waiter, index] : waiters_) {
        std::lock_guard<std::mutex> waiterLock(waiter->mutex);
        if (waiter->pulsedIndex < 0) {
            waiter->pulsedIndex = index;
        }
        waiter->cv.notify_one();
    }
}

bool Event::Wait(uint32_t ms) {
    Event* self = this;
    return WaitOn(&self, 1, ms) == 0;
}

int Event::WaitAny(Event& first, Event& second, uint32_t ms) {
    Event* events[2] = {&first, &second};
    return WaitOn(events, 2, ms);
}

bool Event::TryConsume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!set_) {
        return false;
    }
    if (!manual_) {
        set_ = false;
    }
    return true;
}

void Event::AddWaiter(Waiter* waiter, int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiters_.emplace_back(waiter, index);
}

void Event::RemoveWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiters_.erase(std::remove_if(waiters_.begin(), waiters_.end(),
                                  [waiter](const auto& entry) { return entry.first == waiter; }),
                   waiters_.end());
}

int Event::WaitOn(Event* const* events, int count, uint32_t ms) {
    Waiter waiter;
    // Registered before the first look, so a Set or Pulse that comes between the look and
    // the sleep still wakes this wait.
    for (int i = 0; i < count; ++i) {
        events[i]->AddWaiter(&waiter, i);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int result = -1;
    for (;;) {
        for (int i = 0; i < count && result < 0; ++i) {
            if (events[i]->TryConsume()) {
                result = i;
            }
        }
        if (result >= 0) {
            break;
        }
        std::unique_lock<std::mutex> lock(waiter.mutex);
        if (waiter.pulsedIndex >= 0) {
            result = waiter.pulsedIndex;
            break;
        }
        auto ready = [&waiter] { return waiter.poked || waiter.pulsedIndex >= 0; };
        if (ms == kWaitForever) {
            waiter.cv.wait(lock, ready);
        } else if (!waiter.cv.wait_until(lock, deadline, ready)) {
            break;
        }
        waiter.poked = false;
    }
    for (int i = 0; i < count; ++i) {
        events[i]->RemoveWaiter(&waiter);
    }
    return result;
}
