#include "targets/OrvaneConnection.h"

#include <string>

#include "flashloader/LinkWait.h"
#include "targets/BootSteps.h"
#include "targets/PflConnection.h"

namespace {
constexpr char kPortQuery[] = "$PASHQ,PRT\r\n";
constexpr char kEnterMonitor[] = "$PASHS,MON\r\n#";
constexpr char kIdQuery[] = "#V#";
constexpr char kReplyEnd[] = "\r\n>";
constexpr uint8_t kPrompt = '>';
constexpr uint32_t kPromptWindowMs = 500;
constexpr uint32_t kWordAnswerMs = 1000;
constexpr uint32_t kSliceMs = 10;
// The longest identification taken: a monitor's line, as long as the NMEA lines it reads.
constexpr uint32_t kLongestId = 80;
// The whole reply to "#V#" at its longest: an optional '>', the identification, CR LF '>'.
constexpr uint32_t kLongestIdReply = 1 + kLongestId + sizeof kReplyEnd - 1;
// How long a monitor may think before it answers "#V#".
constexpr uint32_t kIdLatencyMs = 50;
constexpr char kConnectTimeout[] = "monitor connect timeout";

bool EndsWith(const std::string& text, const char* end) {
    const size_t length = std::char_traits<char>::length(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}
}  // namespace

const char* OrvaneConnection::Name() const {
    return variant_ == Variant::OnKalmer ? "Orvane(On Kalmer)" : "Orvane(Mask ROM)";
}

Result OrvaneConnection::LoadAndRun(const ParsedSection& section) {
    return boot::LoadAndRun(
        context_,
        {Name(), [&] { return OrvaneConnect(); }, [&] { return OrvaneUploadSection(section); },
         [&] { return PflConnection::RunAt(context_, section.start); }, nullptr});
}

Result OrvaneConnection::OrvaneConnect() {
    boot::StartLine(context_, speedCode_);
    CommLink& link = context_.Link();
    Clock& clock = context_.GetClock();
    const uint64_t start = clock.NowMs();
    // An unanswered monitor is asked again about every half second, for a while.
    while (!context_.IsAborted()) {
        if (connectLimitMs_ != 0 && clock.NowMs() - start >= connectLimitMs_) {
            Result timeout = Result::Error(Result::Code::NoAnswer, kConnectTimeout);
            context_.SetStatus(timeout.words());
            context_.Log(timeout.words());
            return timeout;
        }
        link.WriteText(kPortQuery);
        link.WriteText(kEnterMonitor);
        if (!linkwait::WaitTransmitDone(context_) || !AwaitPrompt()) {
            break;
        }
        context_.InterruptibleSleep(link.TransmitTime(50));
        if (OrvaneQueryId()) {
            return {};
        }
    }
    return Result::Aborted();
}

// The prompt window runs the same with or without the prompt; false only on abort.
bool OrvaneConnection::AwaitPrompt() {
    Clock& clock = context_.GetClock();
    const uint64_t start = clock.NowMs();
    for (;;) {
        if (clock.NowMs() - start >= kPromptWindowMs) {
            return true;
        }
        context_.InterruptibleSleep(kSliceMs);
        uint8_t byte = 0;
        if (context_.Link().ReadByte(byte) && byte == kPrompt) {
            return true;
        }
        if (context_.IsAborted()) {
            return false;
        }
    }
}

Result OrvaneConnection::OrvaneQueryId() {
    CommLink& link = context_.Link();
    link.Purge();
    link.WriteText(kIdQuery);
    if (!linkwait::WaitTransmitDone(context_)) {
        return Result::Aborted();
    }
    const uint64_t sent = context_.GetClock().NowMs();
    context_.InterruptibleSleep(link.TransmitTime(10));
    // Read up to the reply's closing prompt, or for as long as the longest identification
    // takes at this speed after a monitor's slowest answer: ten characters' time holds only
    // a short one.
    const uint32_t limitMs = kIdLatencyMs + link.TransmitTime(kLongestIdReply);
    std::string reply;
    uint8_t byte = 0;
    while (!EndsWith(reply, kReplyEnd)) {
        const linkwait::Got got = linkwait::NextByte(context_, sent, limitMs, byte);
        if (got == linkwait::Got::Aborted) {
            return Result::Aborted();
        }
        if (got == linkwait::Got::TimedOut) {
            break;
        }
        reply += static_cast<char>(byte);
    }
    if (!reply.empty() && reply.front() == kPrompt) {
        reply.erase(0, 1);
    }
    if (!EndsWith(reply, kReplyEnd)) {
        // Asked again by the connect, which has the words for giving up.
        return Result::Failure(Result::Code::NoAnswer, "");
    }
    reply.resize(reply.size() - (sizeof kReplyEnd - 1));
    const size_t lastPrompt = reply.rfind(static_cast<char>(kPrompt));
    if (lastPrompt != std::string::npos) {
        reply.erase(0, lastPrompt + 1);
    }
    context_.Log(std::string(Name()) + " Monitor ID - " + reply);
    return {};
}

Result OrvaneConnection::OrvaneUploadSection(const ParsedSection& section) {
    Tracker tracker{static_cast<double>(section.size), 0, 0};
    context_.SetProgress(0);
    return boot::UploadRecords(
        context_, section, [&](SfldRecord& record) { return OrvaneWriteRecord(record, tracker); });
}

Result OrvaneConnection::OrvaneWriteRecord(const SfldRecord& record, Tracker& tracker) {
    return OrvaneWriteWords(record.address, boot::RecordData(record), record.dataCount, tracker);
}

Result OrvaneConnection::OrvaneWriteWords(uint32_t address, const uint8_t* data, uint32_t count,
                                          Tracker& tracker) {
    for (uint32_t i = 0; i < count; i += 4) {
        tracker.done += 4;
        tracker.perMille = boot::WordsPerMille(tracker.done, tracker.total);
        context_.SetProgress(tracker.perMille);
        const uint32_t word = boot::WordAt(data, count, i);
        context_.Link().WriteText(FormatText("W%X,%X#", address + i, word).c_str());
        if (Result answered = AwaitWordAnswer(); !answered) {
            return answered;
        }
    }
    context_.Log(FormatText("Record write succesfull (A=0x%08X,SZ=0x%04X)", address, count));
    return {};
}

Result OrvaneConnection::AwaitWordAnswer() {
    constexpr char kTimeout[] = "communication(timeout)";
    constexpr char kNoPrompt[] = "communication(expected '>' absent)";
    Clock& clock = context_.GetClock();
    const uint64_t sent = clock.NowMs();
    while (!context_.IsAborted()) {
        context_.InterruptibleSleep(1);
        if (clock.NowMs() - sent >= kWordAnswerMs) {
            Result timeout = Result::Error(Result::Code::NoAnswer, kTimeout);
            context_.SetStatus(timeout.words());
            context_.Log(timeout.words());
            return timeout;
        }
        uint8_t byte = 0;
        if (context_.Link().ReadByte(byte)) {
            if (byte != kPrompt) {
                Result noPrompt = Result::Error(Result::Code::Refused, kNoPrompt);
                context_.SetStatus(ErrorText("communication error"));
                context_.Log(noPrompt.words());
                return noPrompt;
            }
            return context_.IsAborted() ? Result::Aborted() : Result();
        }
    }
    return Result::Aborted();
}
