#pragma once
// One value or text shared between threads: its own mutex, held for one read or write, and a
// `changed` mark that Set raises and Get clears.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

template <typename T>
class LockedValue {
  public:
    explicit LockedValue(T initial = T{}) {
        Set(initial);
        changed.store(0);
    }
    LockedValue(const LockedValue&) = delete;
    LockedValue& operator=(const LockedValue&) = delete;

    void Set(T newValue) {
        std::lock_guard<std::mutex> lock(mutex_);
        changed.store(1);
        value_ = newValue;
    }
    T Get() {
        std::lock_guard<std::mutex> lock(mutex_);
        changed.store(0);
        return value_;
    }
    // Read without the lock: a poller only learns that something new is waiting.
    bool IsChanged() const { return changed.load() != 0; }

  private:
    std::atomic<uint32_t> changed{0};
    std::mutex mutex_;
    T value_{};
};

using LockedValue32 = LockedValue<int32_t>;
using LockedValue16 = LockedValue<uint16_t>;
using LockedValue8 = LockedValue<uint8_t>;

class LockedText {
  public:
    explicit LockedText(std::string initial = {}) {
        Set(std::move(initial));
        changed.store(0);
    }
    LockedText(const LockedText&) = delete;
    LockedText& operator=(const LockedText&) = delete;

    void Set(std::string newText) {
        std::lock_guard<std::mutex> lock(mutex_);
        changed.store(1);
        text_ = std::move(newText);
    }
    std::string Get() {
        std::lock_guard<std::mutex> lock(mutex_);
        changed.store(0);
        return text_;
    }
    bool IsChanged() const { return changed.load() != 0; }

  private:
    std::atomic<uint32_t> changed{0};
    std::mutex mutex_;
    std::string text_;
};
