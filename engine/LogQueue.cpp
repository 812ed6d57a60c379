#include "engine/LogQueue.h"

#include <new>

bool LogQueue::Init(uint16_t newCapacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.clear();
    slots_.shrink_to_fit();
    head_ = 0;
    capacity_ = newCapacity;
    tail_ = 0;
    try {
        slots_.resize(newCapacity);
    } catch (const std::bad_alloc&) {
        capacity_ = 0;
        return false;
    }
    return newCapacity > 0;
}

void LogQueue::Push(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (capacity_ == 0) {
        return;
    }
    const uint16_t next = static_cast<uint16_t>((tail_ + 1u) % capacity_);
    if (next == head_) {
        return;  // full: the newest line is dropped, the older ones stay
    }
    slots_[tail_] = std::move(line);
    tail_ = next;
}

std::optional<std::string> LogQueue::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (capacity_ == 0 || head_ == tail_) {
        return std::nullopt;
    }
    std::string line = std::move(slots_[head_]);
    slots_[head_].clear();
    head_ = static_cast<uint16_t>((head_ + 1u) % capacity_);
    return line;
}
