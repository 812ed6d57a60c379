#include "platform/posix/TransferMeter.h"

#include <cmath>

#include "engine/FormatText.h"

void TransferMeter::Sample(uint64_t nowMs, uint32_t done, uint32_t total) {
    if (done != 0 && firstMs_ == 0) {
        firstMs_ = nowMs;
        firstDone_ = done;
    }
    lastMs_ = nowMs;
    done_ = done;
    total_ = total;
}

std::string TransferMeter::Line() const {
    if (done_ == 0) {
        return "";
    }
    std::string line = FormatText("%u of %u bytes", done_, total_);
    const uint64_t spanMs = lastMs_ - firstMs_;
    if (spanMs == 0 || done_ <= firstDone_) {
        return line;
    }
    const double bytesPerMs = static_cast<double>(done_ - firstDone_) / spanMs;
    line += FormatText(", %.1f kB/s", bytesPerMs);
    if (total_ > done_) {
        const auto leftS = static_cast<unsigned>(std::lround((total_ - done_) / bytesPerMs / 1000));
        line += FormatText(", %u:%02u left", leftS / 60, leftS % 60);
    }
    return line;
}

std::string TransferMeter::Summary(const char* verb, uint64_t elapsedMs) const {
    const double seconds = elapsedMs / 1000.0;
    const double rate = elapsedMs == 0 ? 0.0 : static_cast<double>(done_) / elapsedMs;
    return FormatText("%s %u bytes in %.1f s (%.1f kB/s).", verb, done_, seconds, rate);
}
