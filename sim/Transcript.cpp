#include "sim/Transcript.h"

#include "sim/SimText.h"

namespace {
constexpr int kBytesPerLine = 16;
constexpr uint64_t kPauseMs = 50;  // a pause this long starts a new line
}  // namespace

void Transcript::Add(bool fromHost, uint8_t byte, uint64_t atMs) {
    if (open_ && (fromHost != fromHost_ || count_ == kBytesPerLine || atMs - lastMs_ >= kPauseMs)) {
        Close();
    }
    if (!open_) {
        open_ = true;
        fromHost_ = fromHost;
        firstMs_ = atMs;
    }
    lastMs_ = atMs;
    ++count_;
    hex_ += FormatText("%02X ", byte);
    chars_ += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
}

void Transcript::Close() {
    if (!open_) {
        return;
    }
    lines_ += FormatText("%10.3f %s %-48s |%s|\n", static_cast<double>(firstMs_) / 1000.0,
                         fromHost_ ? "host  >" : "device<", hex_.c_str(), chars_.c_str());
    open_ = false;
    count_ = 0;
    hex_.clear();
    chars_.clear();
}

std::string Transcript::TakeLines() {
    std::string result;
    result.swap(lines_);
    return result;
}

std::string Transcript::Finish() {
    Close();
    return TakeLines();
}
