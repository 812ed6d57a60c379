#pragma once
// The dialogue as text: one line per run of bytes in one direction, with the time of its
// first byte, the bytes in hexadecimal and as characters.
#include <cstdint>
#include <string>

class Transcript {
  public:
    void Add(bool fromHost, uint8_t byte, uint64_t atMs);
    // The lines completed so far, removed.
    std::string TakeLines();
    // Everything not yet taken, the open line included.
    std::string Finish();

  private:
    void Close();
    bool open_ = false;
    bool fromHost_ = false;
    uint64_t firstMs_ = 0;
    uint64_t lastMs_ = 0;
    int count_ = 0;
    std::string hex_;
    std::string chars_;
    std::string lines_;
};
