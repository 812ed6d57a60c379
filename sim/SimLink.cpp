#include "sim/SimLink.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr size_t kRingBytes = 65535;  // what a port's receive ring holds
constexpr size_t kUartFifo = 16;
constexpr uint32_t kLongestTransmitWaitMs = 500;
constexpr uint64_t kNsPerMs = 1000000;
}  // namespace

SimLink::SimLink(DeviceModel& model, Clock& clock, int32_t speedCode)
    : model_(model), clock_(clock), speed_(speedCode) {}

uint64_t SimLink::ByteNs(int32_t speed) const {
    const uint32_t baud = DeviceModel::BaudOfCode(speed);
    return baud ? 10ull * 1000000000 / baud : 1000000;
}

void SimLink::CollectLocked() {
    for (const OutByte& out : model_.TakeOutput()) {
        const uint64_t start = std::max<uint64_t>(out.atMs * kNsPerMs, rxFreeNs_);
        rxFreeNs_ = start + ByteNs(out.speedCode);
        const LineByte byte{out.value, rxFreeNs_, out.speedCode};
        transcript_.Add(false, out.value, out.atMs);
        if (!open_) {
            continue;  // a closed port hears nothing
        }
        if (received_.size() < kRingBytes) {
            received_.push_back(byte);
        }
        if (handshake_.size() < kRingBytes) {
            handshake_.push_back(byte);
        }
    }
}

// Feeds the model, in time order, every host byte that has arrived and every timed event
// that is due by the clock's time.
void SimLink::PumpLocked() {
    const uint64_t nowMs = clock_.NowMs();
    const uint64_t nowNs = nowMs * kNsPerMs;
    for (;;) {
        const bool byteDue = !toDevice_.empty() && toDevice_.front().atNs <= nowNs;
        uint64_t eventMs = 0;
        const bool eventDue = model_.NextEventMs(eventMs) && eventMs <= nowMs;
        if (!byteDue && !eventDue) {
            break;
        }
        if (byteDue && (!eventDue || toDevice_.front().atNs <= eventMs * kNsPerMs)) {
            const LineByte byte = toDevice_.front();
            toDevice_.pop_front();
            const uint64_t atMs = (byte.atNs + kNsPerMs - 1) / kNsPerMs;
            transcript_.Add(true, byte.value, atMs);
            model_.Receive(byte.value, byte.speed, atMs);
        } else {
            model_.Advance(eventMs);
        }
        CollectLocked();
    }
    CollectLocked();
}

// Close and Open first bring the device up to their moment: what it answered before the
// close is received, what it answers while the port is closed is lost.
void SimLink::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    open_ = false;
    received_.clear();
    handshake_.clear();
}

void SimLink::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    open_ = true;
}

uint32_t SimLink::IsOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    return open_ && !model_.Unplugged() ? 1 : 0;
}

bool SimLink::DeviceLeft() {
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    return model_.Unplugged();
}

bool SimLink::ReadyLocked(const std::deque<LineByte>& ring, uint64_t nowNs) const {
    return open_ && !ring.empty() && ring.front().atNs <= nowNs;
}

bool SimLink::TakeLocked(std::deque<LineByte>& ring, uint8_t& byte) {
    PumpLocked();
    if (model_.Unplugged() || !ReadyLocked(ring, clock_.NowMs() * kNsPerMs)) {
        return false;
    }
    const LineByte next = ring.front();
    ring.pop_front();
    byte = next.speed == speed_ ? next.value : DeviceModel::Garble(next.value);
    return true;
}

bool SimLink::ReadByte(uint8_t& byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    return TakeLocked(received_, byte);
}

bool SimLink::ReadHandshakeByte(uint8_t& byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    return TakeLocked(handshake_, byte);
}

bool SimLink::Write(const uint8_t* bytes, uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    if (!open_ || model_.Unplugged()) {
        return false;
    }
    const uint64_t nowNs = clock_.NowMs() * kNsPerMs;
    for (uint32_t i = 0; i < count; ++i) {
        txFreeNs_ = std::max(txFreeNs_, nowNs) + ByteNs(speed_);
        toDevice_.push_back({bytes[i], txFreeNs_, speed_});
        sent_.push_back(bytes[i]);
    }
    return true;
}

bool SimLink::WriteByte(int byte) {
    const uint8_t value = static_cast<uint8_t>(byte);
    return Write(&value, 1);
}

bool SimLink::WriteText(const char* text) {
    return Write(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(std::strlen(text)));
}

uint32_t SimLink::TransmitDone() {
    uint32_t waitMs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        PumpLocked();
        const uint64_t nowNs = clock_.NowMs() * kNsPerMs;
        if (txFreeNs_ <= nowNs) {
            return 1;
        }
        waitMs = static_cast<uint32_t>(std::min<uint64_t>(
            (txFreeNs_ - nowNs + kNsPerMs - 1) / kNsPerMs, kLongestTransmitWaitMs));
    }
    clock_.SleepMs(waitMs);
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    return txFreeNs_ <= clock_.NowMs() * kNsPerMs ? 1 : 0;
}

void SimLink::SetSpeed(int32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (code >= 0 && code <= 9) {
        speed_ = code;
    }
}

int32_t SimLink::GetSpeed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return speed_;
}

void SimLink::Purge() {
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    const uint64_t nowNs = clock_.NowMs() * kNsPerMs;
    while (ReadyLocked(received_, nowNs)) {
        received_.pop_front();
    }
    // Keep the byte on the wire and the FIFO behind it; the rest never leaves the port.
    size_t keep = 0;
    while (keep < toDevice_.size() &&
           toDevice_[keep].atNs - ByteNs(toDevice_[keep].speed) <= nowNs) {
        ++keep;
    }
    keep = std::min(toDevice_.size(), keep + kUartFifo);
    toDevice_.resize(keep);
    txFreeNs_ = toDevice_.empty() ? std::min(txFreeNs_, nowNs) : toDevice_.back().atNs;
}

uint32_t SimLink::TransmitTime(uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    const double cps = DeviceModel::BaudOfCode(speed_) / 10.0;
    const auto ms = static_cast<uint32_t>(std::lround(count * 1000.0 / cps));
    return std::max<uint32_t>(ms, 1);
}

bool SimLink::NextDueLocked(uint64_t& atNs) {
    bool any = false;
    auto consider = [&](uint64_t ns) {
        if (!any || ns < atNs) {
            atNs = ns;
        }
        any = true;
    };
    if (!received_.empty()) {
        consider(received_.front().atNs);
    }
    if (!toDevice_.empty()) {
        consider(toDevice_.front().atNs);
    }
    uint64_t eventMs;
    if (model_.NextEventMs(eventMs)) {
        consider(eventMs * kNsPerMs);
    }
    return any;
}

bool SimLink::WaitForByte(uint32_t ms) {
    const uint64_t deadline = clock_.NowMs() + ms;
    for (;;) {
        uint64_t stepMs;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            PumpLocked();
            const uint64_t nowMs = clock_.NowMs();
            if (!model_.Unplugged() && ReadyLocked(received_, nowMs * kNsPerMs)) {
                return true;
            }
            if (nowMs >= deadline) {
                return false;
            }
            uint64_t dueNs;
            uint64_t targetMs = deadline;
            if (NextDueLocked(dueNs)) {
                targetMs =
                    std::min(deadline, std::max(nowMs + 1, (dueNs + kNsPerMs - 1) / kNsPerMs));
            }
            stepMs = targetMs - nowMs;
        }
        clock_.SleepMs(static_cast<uint32_t>(stepMs));
    }
}

std::vector<uint8_t> SimLink::Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

std::string SimLink::TranscriptText() {
    std::lock_guard<std::mutex> lock(mutex_);
    PumpLocked();
    transcriptText_ += transcript_.Finish();
    return transcriptText_;
}
