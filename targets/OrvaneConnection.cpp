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
}  // namespace

const char* OrvaneConnection::Name() const {
    return variant_ == Variant::OnKalmer ? "Orvane(On Kalmer)" : "Orvane(Mask ROM)";
}

bool OrvaneConnection::OrvaneLoadAndRun(ImageSource& source, Section& section) {
    const std::string name = Name();
    const std::string targetLine = "Target - " + name;
    const std::string connectedLine = name + " - connected";
    return boot::LoadAndRun(
        context_, {targetLine.c_str(), connectedLine.c_str(), [&] { return OrvaneConnect(); },
                   [&] { return OrvaneUploadSection(source, section); },
                   [&] { return PflConnection(context_).PflRunAt(section.start); }});
}

bool OrvaneConnection::OrvaneConnect() {
    boot::StartLine(context_, boot::kSpeed57600);
    CommLink& link = context_.Link();
    // An unanswered monitor is asked again about every half second until the run is aborted.
    while (!context_.IsAborted()) {
        link.WriteText(kPortQuery);
        link.WriteText(kEnterMonitor);
        if (!linkwait::WaitTransmitDone(context_)) {
            return false;
        }
        if (!AwaitPrompt()) {
            return false;
        }
        context_.InterruptibleSleep(link.TransmitTime(50));
        if (OrvaneQueryId()) {
            return true;
        }
    }
    return false;
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

bool OrvaneConnection::OrvaneQueryId() {
    CommLink& link = context_.Link();
    link.Purge();
    link.WriteText(kIdQuery);
    if (!linkwait::WaitTransmitDone(context_)) {
        return false;
    }
    context_.InterruptibleSleep(link.TransmitTime(10));
    std::string reply;
    uint8_t byte = 0;
    while (link.ReadByte(byte)) {
        reply += static_cast<char>(byte);
    }
    if (!reply.empty() && reply.front() == kPrompt) {
        reply.erase(0, 1);
    }
    const size_t endLength = sizeof kReplyEnd - 1;
    if (reply.size() < endLength ||
        reply.compare(reply.size() - endLength, endLength, kReplyEnd) != 0) {
        return false;
    }
    reply.resize(reply.size() - endLength);
    const size_t lastPrompt = reply.rfind(static_cast<char>(kPrompt));
    if (lastPrompt != std::string::npos) {
        reply.erase(0, lastPrompt + 1);
    }
    context_.Log(std::string(Name()) + " Monitor ID - " + reply);
    return true;
}

bool OrvaneConnection::OrvaneUploadSection(ImageSource& source, Section& section) {
    Tracker tracker{static_cast<double>(section.size), 0, 0};
    context_.SetProgress(0);
    return boot::UploadRecords(context_, source, section, [&](SfldRecord& record) {
        return OrvaneWriteRecord(record, tracker);
    });
}

bool OrvaneConnection::OrvaneWriteRecord(const SfldRecord& record, Tracker& tracker) {
    return OrvaneWriteWords(record.address, boot::RecordData(record), record.dataCount, tracker);
}

bool OrvaneConnection::OrvaneWriteWords(uint32_t address, const uint8_t* data, uint32_t count,
                                        Tracker& tracker) {
    for (uint32_t i = 0; i < count; i += 4) {
        tracker.done += 4;
        tracker.perMille = boot::WordsPerMille(tracker.done, tracker.total);
        context_.SetProgress(tracker.perMille);
        const uint32_t word = boot::WordAt(data, count, i);
        context_.Link().WriteText(FormatText("W%X,%X#", address + i, word).c_str());
        if (!AwaitWordAnswer()) {
            return false;
        }
    }
    context_.Log(FormatText("Record write succesfull (A=0x%08X,SZ=0x%04X)", address, count));
    return true;
}

bool OrvaneConnection::AwaitWordAnswer() {
    Clock& clock = context_.GetClock();
    const uint64_t sent = clock.NowMs();
    if (context_.IsAborted()) {
        return false;
    }
    for (;;) {
        context_.InterruptibleSleep(1);
        if (clock.NowMs() - sent >= kWordAnswerMs) {
            context_.SetStatus("ERROR: communication(timeout)");
            context_.Log("ERROR: communication(timeout)");
            return false;
        }
        uint8_t byte = 0;
        if (context_.Link().ReadByte(byte)) {
            if (byte != kPrompt) {
                context_.SetStatus("ERROR: communication error");
                context_.Log("ERROR: communication(expected '>' absent)");
                return false;
            }
            return !context_.IsAborted();
        }
        if (context_.IsAborted()) {
            return false;
        }
    }
}
