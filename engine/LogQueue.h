#pragma once
// A bounded ring of owned log lines with 16-bit indices. It holds capacity - 1 lines; a line
// pushed into a full queue is the one that is dropped.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class LogQueue {
  public:
    LogQueue() = default;
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    bool Init(uint16_t newCapacity);
    void Push(std::string line);  // the copy is made by the caller, outside the lock
    std::optional<std::string> Take();

  private:
    std::mutex mutex_;
    std::vector<std::string> slots_;
    uint16_t capacity_ = 0;
    uint16_t head_ = 0;
    uint16_t tail_ = 0;
};
