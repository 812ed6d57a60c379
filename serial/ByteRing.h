#pragma once
// A fixed-size byte ring under its own mutex, held for one operation and never together with
// another lock. A ring of size N holds N - 1 bytes: full is one slot short of empty.
#include <cstdint>
#include <memory>
#include <mutex>

class ByteRing {
  public:
    ByteRing() = default;
    explicit ByteRing(uint16_t size) { Allocate(size); }
    ByteRing(const ByteRing&) = delete;
    ByteRing& operator=(const ByteRing&) = delete;

    // Drops any old storage; true when storage of size bytes was obtained. A size below 2
    // could hold nothing, so it leaves the ring without storage.
    bool Allocate(uint16_t size);
    // False, dropping the byte, when there is no storage or the ring is full.
    bool TryPush(uint8_t byte);
    // Stores the byte even into a full ring; the oldest byte is then lost and the result is false.
    bool PushOverwrite(uint8_t byte);
    // Every byte as PushOverwrite does; false only without storage.
    bool PushAllOverwrite(const uint8_t* bytes, uint16_t count);
    bool Pop(uint8_t& byte);
    // Bulk forms for the writer thread, one lock for a whole batch: PopSome moves up to max of
    // the oldest bytes out, TryPushSome stores bytes until the ring is full. Both return the
    // number of bytes moved.
    uint32_t PopSome(uint8_t* out, uint32_t max);
    uint32_t TryPushSome(const uint8_t* bytes, uint32_t count);
    bool IsEmpty();
    void Clear();

  private:
    uint16_t Next(uint16_t index) const { return static_cast<uint16_t>((index + 1u) % size_); }
    bool IsFull() const { return Next(writeIndex_) == readIndex_; }
    void StoreOverwrite(uint8_t byte, bool& lostOldest);

    std::mutex mutex_;
    std::unique_ptr<uint8_t[]> storage_;
    uint16_t size_ = 0;
    uint16_t readIndex_ = 0;
    uint16_t writeIndex_ = 0;
};
