#pragma once
// A process-private event with the semantics the serial threads and the worker rely on:
// manual or auto reset, set, reset, pulse, timed wait and a wait on two events.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Event {
  public:
    enum class Mode { Manual, Auto };
    explicit Event(Mode mode, bool initiallySet = false)
        : manual_(mode == Mode::Manual), set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Releases the threads waiting at this moment and leaves the event not set; a pulse
    // nobody waits for is lost.
    void Pulse();
    // True when the event was set or pulsed within ms (kWaitForever: no limit).
    bool Wait(uint32_t ms);
    // Index (0 or 1) of the event that ended the wait, or -1 when ms passed first.
    static int WaitAny(Event& first, Event& second, uint32_t ms);

  private:
    struct Waiter {
        std::mutex mutex;
        std::condition_variable cv;
        bool poked = false;
        int pulsedIndex = -1;
    };
    static int WaitOn(Event* const* events, int count, uint32_t ms);
    bool TryConsume();
    void AddWaiter(Waiter* waiter, int index);
    void RemoveWaiter(Waiter* waiter);

    std::mutex mutex_;
    const bool manual_;
    bool set_;
    std::vector<std::pair<Waiter*, int>> waiters_;
};
