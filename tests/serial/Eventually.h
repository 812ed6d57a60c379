#pragma once
// Waits, bounded, for something another thread does on its own time. A bound, not a timing
// assertion: it only keeps a broken build from hanging.
#include <chrono>
#include <functional>
#include <thread>

inline bool Eventually(const std::function<bool()>& condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
