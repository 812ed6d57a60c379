#pragma once
// The device's own reader of a record frame: '[', word count (big-endian), payload, XOR
// checksum of the big-endian payload words, ']'. Written apart from the program's record
// builder so that a fault in one cannot hide in the other.
#include <cstdint>
#include <vector>

class FrameReceiver {
  public:
    enum class Result { More, Complete, NotFrame, BadLength, BadChecksum, NoEnd };

    // The largest payload: a 4-byte address and 2048 data bytes.
    static constexpr uint16_t kMaxWords = 1026;

    void Reset();
    bool Started() const { return state_ != State::Open; }
    Result Feed(uint8_t byte);

    uint16_t Words() const { return words_; }
    const std::vector<uint8_t>& Payload() const { return payload_; }
    uint32_t Address() const;  // the first four payload bytes, big-endian

  private:
    enum class State { Open, CountHigh, CountLow, Payload, SumHigh, SumLow, Close };
    State state_ = State::Open;
    uint16_t words_ = 0;
    uint16_t sum_ = 0;
    std::vector<uint8_t> payload_;
};
