#include "support/ScriptedLink.h"

#include <algorithm>
#include <cstring>

void ScriptedLink::Arrive(uint64_t atMs, const std::string& bytes) {
    auto at = std::upper_bound(incoming_.begin(), incoming_.end(), atMs,
                               [](uint64_t t, const Incoming& in) { return t < in.atMs; });
    for (char c : bytes) {
        at = incoming_.insert(at, Incoming{atMs, static_cast<uint8_t>(c)}) + 1;
    }
}

void ScriptedLink::Answer(const std::string& trigger, const std::string& reply, uint64_t delayMs,
                          int times) {
    rules_.push_back(Rule{trigger, reply, delayMs, times == 0 ? -1 : times});
}

std::string ScriptedLink::SentText() const {
    return sentText_;
}

std::vector<uint64_t> ScriptedLink::TimesOf(const std::string& text) const {
    std::vector<uint64_t> times;
    for (size_t at = sentText_.find(text); at != std::string::npos;
         at = sentText_.find(text, at + 1)) {
        times.push_back(sent_[at].atMs);
    }
    return times;
}

size_t ScriptedLink::Waiting() const {
    const uint64_t now = clock_.NowMs();
    return std::count_if(incoming_.begin(), incoming_.end(),
                         [now](const Incoming& in) { return in.atMs <= now; });
}

bool ScriptedLink::ReadByte(uint8_t& byte) {
    ++readCalls;
    if (incoming_.empty() || incoming_.front().atMs > clock_.NowMs()) {
        return false;
    }
    byte = incoming_.front().byte;
    incoming_.pop_front();
    return true;
}

void ScriptedLink::Sent1(uint8_t byte) {
    const uint64_t now = clock_.NowMs();
    sent_.push_back(Sent{now, byte});
    sentText_ += static_cast<char>(byte);
    if (echo_ && byte != '\r') {
        Arrive(now + echoDelay_, std::string(1, static_cast<char>(byte)));
    }
    for (Rule& rule : rules_) {
        if (rule.left != 0 && sentText_.size() >= rule.trigger.size() &&
            sentText_.compare(sentText_.size() - rule.trigger.size(), rule.trigger.size(),
                              rule.trigger) == 0) {
            Arrive(now + rule.delayMs, rule.reply);
            if (rule.left > 0) {
                --rule.left;
            }
            break;
        }
    }
}

void ScriptedLink::Wrote(const uint8_t* bytes, uint32_t count) {
    const Bytes chunk(bytes, bytes + count);
    written.insert(written.end(), chunk.begin(), chunk.end());
    writeTimes.push_back(clock_.NowMs());
    for (uint8_t byte : chunk) {
        Sent1(byte);
    }
    if (onWrite) {
        onWrite(chunk);
    }
}

bool ScriptedLink::WriteByte(int byte) {
    const auto b = static_cast<uint8_t>(byte);
    Wrote(&b, 1);
    return true;
}

bool ScriptedLink::WriteText(const char* text) {
    Wrote(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(std::strlen(text)));
    return true;
}

bool ScriptedLink::Write(const uint8_t* bytes, uint32_t count) {
    Wrote(bytes, count);
    return true;
}

uint32_t ScriptedLink::TransmitDone() {
    ++transmitPolls;
    if (transmitBusyPolls > 0) {
        --transmitBusyPolls;
        return 0;
    }
    transmitDoneAt = clock_.NowMs();
    return 1;
}

void ScriptedLink::Purge() {
    ++purges;
    // Only what has arrived is in the rings; later bytes are still on the line.
    const uint64_t now = clock_.NowMs();
    while (!incoming_.empty() && incoming_.front().atMs <= now) {
        incoming_.pop_front();
    }
}

uint32_t ScriptedLink::TransmitTime(uint32_t count) {
    const uint64_t bits = uint64_t{count} * 10 * 1000;
    const uint32_t baud = speedcode::kBaud[speed_];
    const uint32_t ms = static_cast<uint32_t>((bits + baud / 2) / baud);
    return ms == 0 ? 1 : ms;
}

bool ScriptedLink::WaitForByte(uint32_t ms) {
    const uint64_t now = clock_.NowMs();
    if (!incoming_.empty() && incoming_.front().atMs <= now) {
        return true;
    }
    if (!blocking) {
        return false;
    }
    uint64_t until = now + ms;
    if (!incoming_.empty()) {
        until = std::min(until, incoming_.front().atMs);
    }
    clock_.Advance(until - now);
    return !incoming_.empty() && incoming_.front().atMs <= clock_.NowMs();
}
