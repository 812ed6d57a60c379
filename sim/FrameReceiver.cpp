#include "sim/FrameReceiver.h"

#include <cstddef>

void FrameReceiver::Reset() {
    state_ = State::Open;
    words_ = 0;
    sum_ = 0;
    payload_.clear();
}

FrameReceiver::Result FrameReceiver::Feed(uint8_t byte) {
    switch (state_) {
        case State::Open:
            if (byte != '[') {
                return Result::NotFrame;
            }
            payload_.clear();
            state_ = State::CountHigh;
            return Result::More;
        case State::CountHigh:
            words_ = static_cast<uint16_t>(byte << 8);
            state_ = State::CountLow;
            return Result::More;
        case State::CountLow:
            words_ = static_cast<uint16_t>(words_ | byte);
            if (words_ > kMaxWords) {
                Reset();
                return Result::BadLength;
            }
            state_ = words_ ? State::Payload : State::SumHigh;
            return Result::More;
        case State::Payload:
            payload_.push_back(byte);
            if (payload_.size() == 2u * words_) {
                state_ = State::SumHigh;
            }
            return Result::More;
        case State::SumHigh:
            sum_ = static_cast<uint16_t>(byte << 8);
            state_ = State::SumLow;
            return Result::More;
        case State::SumLow:
            sum_ = static_cast<uint16_t>(sum_ | byte);
            state_ = State::Close;
            return Result::More;
        case State::Close: {
            state_ = State::Open;
            if (byte != ']') {
                return Result::NoEnd;
            }
            uint16_t computed = 0;
            for (std::size_t i = 0; i + 1 < payload_.size(); i += 2) {
                computed ^= static_cast<uint16_t>(payload_[i] << 8 | payload_[i + 1]);
            }
            return computed == sum_ ? Result::Complete : Result::BadChecksum;
        }
    }
    return Result::NotFrame;
}

uint32_t FrameReceiver::Address() const {
    if (payload_.size() < 4) {
        return 0;
    }
    return static_cast<uint32_t>(payload_[0]) << 24 | static_cast<uint32_t>(payload_[1]) << 16 |
           static_cast<uint32_t>(payload_[2]) << 8 | payload_[3];
}
