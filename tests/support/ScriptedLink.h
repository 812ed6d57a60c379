#pragma once
// A CommLink for protocol tests on the virtual clock: bytes arrive at scheduled virtual times,
// rules answer what the host sent, and every byte the host wrote is kept with its time.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/CommLink.h"

class ScriptedLink : public CommLink {
  public:
    struct Sent {
        uint64_t atMs;
        uint8_t byte;
    };

    using Bytes = std::vector<uint8_t>;

    explicit ScriptedLink(VirtualClock& clock) : clock_(clock) {}

    // Bytes that arrive at atMs (in order, after what is already due then).
    void Arrive(uint64_t atMs, const std::string& bytes);
    void At(uint64_t atMs, const Bytes& bytes) {
        Arrive(atMs, std::string(bytes.begin(), bytes.end()));
    }
    void After(uint64_t delayMs, const Bytes& bytes) { At(clock_.NowMs() + delayMs, bytes); }
    // Whenever the host's output ends with trigger, reply arrives delayMs later; at most
    // times replies (0: no limit). Only the first rule that matches a byte answers.
    void Answer(const std::string& trigger, const std::string& reply, uint64_t delayMs = 1,
                int times = 0);
    // Echo every byte the host writes, except CR.
    void EchoAll(uint64_t delayMs = 1) { echo_ = true, echoDelay_ = delayMs; }

    std::string SentText() const;
    std::vector<uint64_t> TimesOf(const std::string& text) const;
    const std::vector<Sent>& SentBytes() const { return sent_; }
    size_t Waiting() const;

    uint32_t IsOpen() override { return 1; }
    bool ReadByte(uint8_t& byte) override;
    bool WriteByte(int byte) override;
    bool WriteText(const char* text) override;
    bool Write(const uint8_t* bytes, uint32_t count) override;
    uint32_t TransmitDone() override;
    void SetSpeed(int32_t code) override { speed_ = code, ++speedSets; }
    int32_t GetSpeed() override { return speed_; }
    void Purge() override;
    uint32_t TransmitTime(uint32_t count) override;
    bool WaitForByte(uint32_t ms) override;

    int purges = 0;
    int speedSets = 0;

    // Called with every write (a byte or a block) at the time it is written.
    std::function<void(const Bytes& chunk)> onWrite;
    // Off: WaitForByte returns at once without blocking, like a closed port.
    bool blocking = true;
    // TransmitDone reports "still sending" this many times before it reports done.
    int transmitBusyPolls = 0;

    // Every byte written, and the time of each write call.
    Bytes written;
    std::vector<uint64_t> writeTimes;
    int readCalls = 0;
    int transmitPolls = 0;
    uint64_t transmitDoneAt = 0;

  private:
    struct Incoming {
        uint64_t atMs;
        uint8_t byte;
    };
    struct Rule {
        std::string trigger;
        std::string reply;
        uint64_t delayMs;
        int left;
    };
    void Sent1(uint8_t byte);
    void Wrote(const uint8_t* bytes, uint32_t count);

    VirtualClock& clock_;
    std::deque<Incoming> incoming_;
    std::vector<Sent> sent_;
    std::string sentText_;
    std::vector<Rule> rules_;
    bool echo_ = false;
    uint64_t echoDelay_ = 1;
    int32_t speed_ = 6;
};
