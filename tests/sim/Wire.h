#pragma once
// Drives a DeviceModel the way a host on the line would: bytes go in one a millisecond, the
// answers are collected after the model has been given time.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/DeviceModel.h"

using Bytes = std::vector<uint8_t>;

inline Bytes B(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A record frame written from the frame table: '[', word count, payload padded to words,
// XOR of the big-endian words, ']'.
inline Bytes Frame(Bytes payload) {
    if (payload.size() % 2) {
        payload.push_back(0);
    }
    const uint16_t words = static_cast<uint16_t>(payload.size() / 2);
    uint16_t sum = 0;
    for (size_t i = 0; i < payload.size(); i += 2) {
        sum ^= static_cast<uint16_t>(payload[i] << 8 | payload[i + 1]);
    }
    // Reserved first: g++ 12 at -O2 warns falsely about inserting into a three-byte vector.
    Bytes frame;
    frame.reserve(payload.size() + 6);
    frame.push_back(0x5B);
    frame.push_back(static_cast<uint8_t>(words >> 8));
    frame.push_back(static_cast<uint8_t>(words));
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(static_cast<uint8_t>(sum >> 8));
    frame.push_back(static_cast<uint8_t>(sum));
    frame.push_back(0x5D);
    return frame;
}

inline Bytes Be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

inline Bytes DataFrame(uint32_t address, const Bytes& data) {
    return Frame(Cat(Be32(address), data));
}
inline Bytes EraseFrame(uint32_t from, uint32_t to) {
    return Frame(Cat(Be32(from), Be32(to)));
}
inline Bytes EndFrame() {
    return {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};
}

struct Wire {
    explicit Wire(const DeviceConfig& config = DeviceConfig())
        : model(config), speed(model.SpeedCode()) {}

    // Sends the bytes one a millisecond and returns what came back by the last one.
    Bytes Send(const Bytes& bytes) {
        for (uint8_t b : bytes) {
            model.Receive(b, speed, ++now);
        }
        return Take();
    }
    Bytes SendText(const std::string& text) { return Send(B(text)); }
    // Lets ms pass and returns what came back meanwhile.
    Bytes Wait(uint64_t ms) {
        now += ms;
        model.Advance(now);
        return Take();
    }
    Bytes Take() {
        Bytes result;
        for (const OutByte& out : model.TakeOutput()) {
            result.push_back(out.value);
            lastAtMs = out.atMs;
        }
        return result;
    }
    // Connect, then section start, erase command and an erase record for [from, to),
    // up to the final OK of the erase.
    void OpenSection(uint32_t from, uint32_t to) {
        Send({0x55, 0xAA});
        Send({0x55});
        Send({0x6A});
        Send(Cat({0x55}, EraseFrame(from, to)));
        Wait(100000);
    }

    DeviceModel model;
    int32_t speed;
    uint64_t now = 0;
    uint64_t lastAtMs = 0;
};
