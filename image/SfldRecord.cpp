#include "image/SfldRecord.h"

#include <cstring>

void SfldRecord::Begin() {
    first = 1;
    address = 0;
    length = 0;
    dataCount = 0;
}

void SfldRecord::PutPayload32(uint32_t value) {
    uint8_t* out = frame + kPayloadOffset + length;
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
    length += 4;
}

template <typename Value>
void SfldRecord::KeepCarry(uint32_t at, uint16_t count, const Value* values) {
    if (count == 0) {
        return;
    }
    carryAddress = at;
    carryCount = count;
    if constexpr (sizeof(Value) == sizeof(uint16_t)) {
        // the values may be this record's own carry
        std::memmove(carryData, values, count * sizeof(uint16_t));
    } else {
        for (uint16_t i = 0; i < count; ++i) {
            carryData[i] = values[i];
        }
    }
    carryPending = 1;
}

template <typename Value>
bool SfldRecord::AppendValues(uint32_t at, uint16_t count, const Value* values) {
    if (count > kMaxDataCount) {
        count = kMaxDataCount;
    }
    if (first) {
        first = 0;
        address = at;
        carryPending = 0;
        length = 0;
        PutPayload32(at);
    } else if (dataCount >= kMaxDataCount || at != address + dataCount) {
        KeepCarry(at, count, values);
        return true;
    }
    uint16_t room = kMaxDataCount - dataCount;
    uint16_t taken = count < room ? count : room;
    uint8_t* out = frame + kPayloadOffset + length;
    for (uint16_t i = 0; i < taken; ++i) {
        out[i] = static_cast<uint8_t>(values[i]);
    }
    dataCount += taken;
    length += taken;
    if (dataCount == kMaxDataCount) {
        KeepCarry(at + taken, count - taken, values + taken);
        return true;
    }
    return false;
}

bool SfldRecord::Append(uint32_t at, uint16_t count, const uint16_t* values) {
    return AppendValues(at, count, values);
}

bool SfldRecord::Append(uint32_t at, uint16_t count, const uint8_t* bytes) {
    return AppendValues(at, count, bytes);
}

void SfldRecord::Finish() {
    frame[0] = kFrameStart;
    uint8_t* payload = frame + kPayloadOffset;
    if (length % 2 != 0) {
        payload[length++] = 0x00;
    }
    uint16_t words = length / 2;
    frame[1] = static_cast<uint8_t>(words >> 8);
    frame[2] = static_cast<uint8_t>(words);
    uint16_t checksum = 0;
    for (uint16_t i = 0; i < length; i += 2) {
        checksum ^= static_cast<uint16_t>(payload[i] << 8 | payload[i + 1]);
    }
    payload[length] = static_cast<uint8_t>(checksum >> 8);
    payload[length + 1] = static_cast<uint8_t>(checksum);
    payload[length + 2] = kFrameEnd;
    length += 6;
}

void SfldRecord::MakeErase(uint32_t from, uint32_t to) {
    address = from;
    dataCount = 0;
    length = 0;
    PutPayload32(from);
    PutPayload32(to);
    Finish();
}

void SfldRecord::MakeEnd() {
    static constexpr uint8_t kEndFrame[] = {kFrameStart, 0x00, 0x00, 0x00, 0x00, kFrameEnd};
    address = 0;
    dataCount = 0;
    std::memcpy(frame, kEndFrame, sizeof kEndFrame);
    length = sizeof kEndFrame;
}
