#pragma once
// The terminal's figures for the flash programming: bytes written of the total, the rate and
// the time left while it runs, and one summary line at the end.
#include <cstdint>
#include <string>

class TransferMeter {
  public:
    // What the worker reports at nowMs: bytes written and to write in all.
    void Sample(uint64_t nowMs, uint32_t done, uint32_t total);
    // "123456 of 262144 bytes, 11.5 kB/s, 0:12 left"; empty until bytes have been written.
    std::string Line() const;
    // "Wrote 262144 bytes in 23.4 s (11.2 kB/s)." for an update that took elapsedMs in all;
    // the verb says what was done with the bytes.
    std::string Summary(const char* verb, uint64_t elapsedMs) const;
    // From the first sample that saw bytes to the last one.
    uint64_t SpanMs() const { return lastMs_ - firstMs_; }

  private:
    // The rate is counted from the first bytes: the erasing before them writes nothing.
    uint64_t firstMs_ = 0;
    uint32_t firstDone_ = 0;
    uint64_t lastMs_ = 0;
    uint32_t done_ = 0;
    uint32_t total_ = 0;
};
