#include "serial/ByteRing.h"

#include <new>

bool ByteRing::Allocate(uint16_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    storage_.reset();
    size_ = 0;
    readIndex_ = 0;
    writeIndex_ = 0;
    if (size < 2) {
        return false;
    }
    storage_.reset(new (std::nothrow) uint8_t[size]);
    if (!storage_) {
        return false;
    }
    size_ = size;
    return true;
}

bool ByteRing::TryPush(uint8_t byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!storage_ || IsFull()) {
        return false;
    }
    storage_[writeIndex_] = byte;
    writeIndex_ = Next(writeIndex_);
    return true;
}

void ByteRing::StoreOverwrite(uint8_t byte, bool& lostOldest) {
    storage_[writeIndex_] = byte;
    writeIndex_ = Next(writeIndex_);
    if (writeIndex_ == readIndex_) {
        readIndex_ = Next(readIndex_);
        lostOldest = true;
    }
}

bool ByteRing::PushOverwrite(uint8_t byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!storage_) {
        return false;
    }
    bool lostOldest = false;
    StoreOverwrite(byte, lostOldest);
    return !lostOldest;
}

bool ByteRing::PushAllOverwrite(const uint8_t* bytes, uint16_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!storage_) {
        return false;
    }
    bool lostOldest = false;
    for (uint16_t i = 0; i < count; ++i) {
        StoreOverwrite(bytes[i], lostOldest);
    }
    return true;
}

bool ByteRing::Pop(uint8_t& byte) {
    return PopSome(&byte, 1) == 1;
}

uint32_t ByteRing::PopSome(uint8_t* out, uint32_t max) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!storage_) {
        return 0;
    }
    uint32_t moved = 0;
    while (moved < max && readIndex_ != writeIndex_) {
        out[moved++] = storage_[readIndex_];
        readIndex_ = Next(readIndex_);
    }
    return moved;
}

uint32_t ByteRing::TryPushSome(const uint8_t* bytes, uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!storage_) {
        return 0;
    }
    uint32_t moved = 0;
    while (moved < count && !IsFull()) {
        storage_[writeIndex_] = bytes[moved++];
        writeIndex_ = Next(writeIndex_);
    }
    return moved;
}

bool ByteRing::IsEmpty() {
    std::lock_guard<std::mutex> lock(mutex_);
    return readIndex_ == writeIndex_;
}

void ByteRing::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    readIndex_ = 0;
    writeIndex_ = 0;
}
