#pragma once
// The simulated device behind the link interface, for protocol tests on a virtual clock.
// Bytes take their line time both ways (10 bits a character at the link's speed): what the
// host writes reaches the model when its last bit has arrived, and the model's answers
// become readable when theirs has. Nothing runs by itself: every call brings the model up to
// the clock's time first.
//
// Speeds: every byte carries the speed it was sent at. The model logs a host byte sent at
// another speed than its own as a violation and loses it; a device byte read while the link
// runs at another speed reads as DeviceModel::Garble of it.
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/CommLink.h"
#include "sim/DeviceModel.h"
#include "sim/Transcript.h"

class SimLink : public CommLink {
  public:
    // The link starts open at speedCode (6, 19200 baud, as the port keeper opens it).
    SimLink(DeviceModel& model, Clock& clock, int32_t speedCode = 6);

    void Close() override;
    uint32_t IsOpen() override;
    bool ReadByte(uint8_t& byte) override;
    bool WriteByte(int byte) override;
    bool WriteText(const char* text) override;
    bool Write(const uint8_t* bytes, uint32_t count) override;
    // Waits (on the clock) for at most 500 ms of the remaining send time, so that a loop that
    // polls it moves time on.
    uint32_t TransmitDone() override;
    void SetSpeed(int32_t code) override;
    int32_t GetSpeed() override;
    // Drops the received bytes that are readable and what the host queued that has not
    // reached the line yet; 16 bytes beyond the one on the wire are already in the UART's
    // FIFO and still go out.
    void Purge() override;
    bool ReadHandshakeByte(uint8_t& byte) override;
    uint32_t TransmitTime(uint32_t count) override;
    bool WaitForByte(uint32_t ms) override;
    // An unplugged device is seen to leave at once.
    bool DeviceLeft() override;

    // Opens the link again after Close.
    void Open();
    // Everything the host has written, in order.
    std::vector<uint8_t> Sent();
    // The dialogue so far as text (see Transcript).
    std::string TranscriptText();

  private:
    struct LineByte {
        uint8_t value;
        uint64_t atNs;  // arrival of its last bit
        int32_t speed;
    };

    uint64_t ByteNs(int32_t speed) const;
    void PumpLocked();
    void CollectLocked();
    bool ReadyLocked(const std::deque<LineByte>& ring, uint64_t nowNs) const;
    bool TakeLocked(std::deque<LineByte>& ring, uint8_t& byte);
    bool NextDueLocked(uint64_t& atNs);

    DeviceModel& model_;
    Clock& clock_;
    std::mutex mutex_;
    bool open_ = true;
    int32_t speed_;
    std::deque<LineByte> toDevice_;
    std::deque<LineByte> received_;   // what ReadByte takes
    std::deque<LineByte> handshake_;  // the second copy, for ReadHandshakeByte
    std::vector<uint8_t> sent_;
    uint64_t txFreeNs_ = 0;
    uint64_t rxFreeNs_ = 0;
    Transcript transcript_;
    std::string transcriptText_;
};
