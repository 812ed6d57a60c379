#pragma once
// A link whose answers are scripted in virtual time: bytes become readable at given times, and
// WaitForByte moves the virtual clock to the next arrival (or by the whole wait), as a blocking
// wait on a real port would.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/Clock.h"
#include "engine/CommLink.h"

class ScriptedLink : public CommLink {
  public:
    using Bytes = std::vector<uint8_t>;

    explicit ScriptedLink(VirtualClock& clock) : clock_(clock) {}

    // Bytes that arrive at absolute virtual time ms, after any already due then.
    void At(uint64_t ms, const Bytes& bytes) {
        for (uint8_t byte : bytes) {
            auto pos = std::upper_bound(incoming_.begin(), incoming_.end(), ms,
                                        [](uint64_t due, const std::pair<uint64_t, uint8_t>& item) {
                                            return due < item.first;
                                        });
            incoming_.insert(pos, {ms, byte});
        }
    }
    void After(uint64_t delayMs, const Bytes& bytes) { At(clock_.NowMs() + delayMs, bytes); }

    // Called with every write (a byte or a block) at the time it is written.
    std::function<void(const Bytes& chunk)> onWrite;

    // Off: WaitForByte returns at once without blocking, like a closed port.
    bool blocking = true;
    // TransmitDone reports "still sending" this many times before it reports done.
    int transmitBusyPolls = 0;

    Bytes written;
    std::vector<uint64_t> writeTimes;
    int readCalls = 0;
    int transmitPolls = 0;
    uint64_t transmitDoneAt = 0;

    uint32_t IsOpen() override { return 1; }
    bool ReadByte(uint8_t& byte) override {
        ++readCalls;
        if (incoming_.empty() || incoming_.front().first > clock_.NowMs()) {
            return false;
        }
        byte = incoming_.front().second;
        incoming_.erase(incoming_.begin());
        return true;
    }
    bool WriteByte(int byte) override {
        const uint8_t b = static_cast<uint8_t>(byte);
        return Write(&b, 1);
    }
    bool Write(const uint8_t* bytes, uint32_t count) override {
        Bytes chunk(bytes, bytes + count);
        written.insert(written.end(), chunk.begin(), chunk.end());
        writeTimes.push_back(clock_.NowMs());
        if (onWrite) {
            onWrite(chunk);
        }
        return true;
    }
    uint32_t TransmitDone() override {
        ++transmitPolls;
        if (transmitBusyPolls > 0) {
            --transmitBusyPolls;
            return 0;
        }
        transmitDoneAt = clock_.NowMs();
        return 1;
    }
    void Purge() override {
        const uint64_t now = clock_.NowMs();
        std::erase_if(incoming_, [now](const auto& item) { return item.first <= now; });
    }
    // 19200 baud, ten bits a character, rounded up.
    uint32_t TransmitTime(uint32_t count) override { return (count * 10 * 1000 + 19199) / 19200; }
    bool WaitForByte(uint32_t ms) override {
        if (!blocking) {
            return !incoming_.empty() && incoming_.front().first <= clock_.NowMs();
        }
        const uint64_t now = clock_.NowMs();
        if (!incoming_.empty() && incoming_.front().first <= now + ms) {
            if (incoming_.front().first > now) {
                clock_.SleepMs(static_cast<uint32_t>(incoming_.front().first - now));
            }
            return true;
        }
        clock_.SleepMs(ms);
        return false;
    }

  private:
    VirtualClock& clock_;
    std::vector<std::pair<uint64_t, uint8_t>> incoming_;
};
