#pragma once
// One framed record of the loader protocols:
//   '[' | N (words, big-endian) | payload: address, data, pad byte if odd | XOR of words | ']'
// also used for the erase range and the end of data.
#include <cstdint>

struct SfldRecord {
    static constexpr uint8_t kFrameStart = 0x5B;
    static constexpr uint8_t kFrameEnd = 0x5D;
    static constexpr uint16_t kMaxDataCount = 0x800;
    static constexpr int kFrameCapacity = 2064;
    static constexpr int kCarryCapacity = 2063;
    static constexpr int kPayloadOffset = 3;

    void Begin();
    // Adds `count` values (the low byte of each) at `at`. True when the record is complete and
    // must be sent; what did not fit or did not follow on is kept as the carry.
    // At most kMaxDataCount values a call.
    bool Append(uint32_t at, uint16_t count, const uint16_t* values);
    bool Append(uint32_t at, uint16_t count, const uint8_t* bytes);
    // Frames the payload; once per record.
    void Finish();
    void MakeErase(uint32_t from, uint32_t to);
    void MakeEnd();

    // The bytes to send: `length` bytes from frame[0].
    const uint8_t* Frame() const { return frame; }

    uint32_t address = 0;
    uint8_t frame[kFrameCapacity] = {};
    // While building the payload length; after Finish the length of the whole frame.
    uint16_t length = 0;
    uint16_t dataCount = 0;
    uint8_t first = 1;
    uint8_t carryPending = 0;
    uint32_t carryAddress = 0;
    uint16_t carryData[kCarryCapacity] = {};
    uint16_t carryCount = 0;

  private:
    template <typename Value>
    bool AppendValues(uint32_t at, uint16_t count, const Value* values);
    template <typename Value>
    void KeepCarry(uint32_t at, uint16_t count, const Value* values);
    void PutPayload32(uint32_t value);
};
