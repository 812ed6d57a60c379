#include "targets/RomMonitorConnection.h"

#include <cstring>

#include "flashloader/LinkWait.h"
#include "targets/BootSteps.h"

namespace {
constexpr char kWake[] = "\r\n";
constexpr char kTestScreen[] = "T\r";
constexpr char kTestPrompt[] = ":test>";
constexpr uint8_t kPrompt = '>';
constexpr uint32_t kPromptWindowMs = 500;
constexpr uint32_t kTestPromptMs = 2000;
constexpr uint32_t kTestRepeatMs = 200;
constexpr uint32_t kEchoMs = 1000;
constexpr uint32_t kSliceMs = 10;
// The recogniser's collection buffer; the position wraps here.
constexpr uint32_t kCollectSize = 10;
}  // namespace

Result RomMonitorConnection::LoadAndRun(const ParsedSection& section) {
    return boot::LoadAndRun(context_, {"Hestan(Mask ROM)", [&] { return RomMonitorConnect(); },
                                       [&] { return RomMonitorUploadSection(section); },
                                       [&] { return RomMonitorRunAt(section.start); }, nullptr});
}

Result RomMonitorConnection::RomMonitorConnect() {
    // Asked until it answers: only an abort ends the wait.
    boot::StartLine(context_, speedCode_);
    CommLink& link = context_.Link();
    while (!context_.IsAborted()) {
        link.WriteText(kWake);
        if (!linkwait::WaitTransmitDone(context_)) {
            break;
        }
        if (AwaitPromptAndEnter()) {
            return {};
        }
        if (context_.IsAborted()) {
            break;
        }
        context_.InterruptibleSleep(link.TransmitTime(50));
    }
    return Result::Aborted();
}

// One 500 ms window after the wake-up; true once the test screen is entered. False also on
// abort, which the caller sees for itself.
bool RomMonitorConnection::AwaitPromptAndEnter() {
    CommLink& link = context_.Link();
    Clock& clock = context_.GetClock();
    const uint64_t start = clock.NowMs();
    while (clock.NowMs() - start < kPromptWindowMs) {
        context_.InterruptibleSleep(kSliceMs);
        uint8_t byte = 0;
        while (link.ReadByte(byte)) {
            if (byte == kPrompt && RomMonitorEnterTestScreen()) {
                return true;
            }
            if (context_.IsAborted()) {
                return false;
            }
        }
        if (context_.IsAborted()) {
            return false;
        }
    }
    return false;
}

bool RomMonitorConnection::RomMonitorEnterTestScreen() {
    context_.Link().WriteText(kTestScreen);
    if (!RomMonitorWaitTestPrompt()) {
        context_.Log(ErrorText("Mask ROM TestScreen enter timeout."));
        return false;
    }
    context_.Link().Purge();
    context_.Log("ROM Monitor entered to the test screen.");
    return true;
}

bool RomMonitorConnection::RomMonitorWaitTestPrompt() {
    CommLink& link = context_.Link();
    Clock& clock = context_.GetClock();
    const uint64_t start = clock.NowMs();
    uint64_t lastTestScreen = start;
    char collected[kCollectSize] = {};
    uint32_t position = 0;
    bool found = false;
    while (clock.NowMs() - start < kTestPromptMs) {
        if (clock.NowMs() - lastTestScreen >= kTestRepeatMs) {
            link.WriteText(kTestScreen);
            lastTestScreen = clock.NowMs();
        }
        uint8_t byte = 0;
        while (!found && link.ReadByte(byte)) {
            if (position == 0) {
                if (byte == ':') {
                    collected[0] = ':';
                    position = 1;
                    continue;
                }
            } else {
                // A text that did not match is not thrown away: collection runs on until
                // the position wraps, and only a ':' at position 0 starts afresh.
                collected[position] = static_cast<char>(byte);
                position = (position + 1) % kCollectSize;
            }
            if (byte == kPrompt && position == std::strlen(kTestPrompt) &&
                std::memcmp(collected, kTestPrompt, position) == 0) {
                found = true;
            }
        }
        if (context_.IsAborted()) {
            return false;
        }
        context_.InterruptibleSleep(kSliceMs);
        if (found) {
            return true;
        }
    }
    context_.Log("ROM monitor timeout.");
    return false;
}

Result RomMonitorConnection::RomMonitorSendEchoed(const std::string& text) {
    CommLink& link = context_.Link();
    const size_t end = text.find('\r');
    for (size_t i = 0; i < end && i < text.size(); ++i) {
        const uint8_t sent = static_cast<uint8_t>(text[i]);
        link.WriteByte(sent);
        uint8_t echo = 0;
        switch (linkwait::NextByte(context_, context_.GetClock().NowMs(), kEchoMs, echo)) {
            case linkwait::Got::TimedOut:
                return Fail(Result::Code::NoAnswer, "ROM monitor echo timeout.");
            case linkwait::Got::Aborted:
                // The rest of the command is not sent: an aborted command is not a good one.
                return Result::Aborted();
            case linkwait::Got::Byte:
                if (echo != sent) {
                    return Fail(Result::Code::Refused, "ROM monitor wrong answer.");
                }
                break;
        }
    }
    // The monitor answers the CR with its prompt, not an echo.
    link.WriteByte('\r');
    return {};
}

Result RomMonitorConnection::Fail(Result::Code code, const char* line) {
    context_.Log(line);
    return Result::Failure(code, line);
}

Result RomMonitorConnection::RomMonitorWriteWords(uint32_t address, const uint8_t* data,
                                                  uint32_t count, Progress& progress) {
    for (uint32_t k = 0; k < count; k += 4) {
        progress.sent += 4;
        progress.last = boot::WordsPerMille(progress.sent, progress.size);
        context_.SetProgress(progress.last);
        const uint32_t word = boot::WordAt(data, count, k);
        if (Result sent = RomMonitorSendEchoed(FormatText("P %08X %08X\r", address + k, word));
            !sent) {
            return sent;
        }
        // The prompt's wait logs its own time-out.
        if (!RomMonitorWaitTestPrompt() || context_.IsAborted()) {
            return context_.IsAborted()
                       ? Result::Aborted()
                       : Result::Failure(Result::Code::NoAnswer, "ROM monitor timeout.");
        }
    }
    context_.Log(FormatText("Record write succesfull (A=0x%08X,SZ=0x%04X)", address, count));
    return {};
}

Result RomMonitorConnection::RomMonitorWriteRecord(const SfldRecord& record, Progress& progress) {
    return RomMonitorWriteWords(record.address, boot::RecordData(record), record.dataCount,
                                progress);
}

Result RomMonitorConnection::RomMonitorUploadSection(const ParsedSection& section) {
    // The progress stays at the last word's value; it is not forced to 1000.
    Progress progress{static_cast<double>(section.size), 0, 0};
    context_.SetProgress(0);
    return boot::UploadRecords(context_, section, [&](SfldRecord& record) {
        return RomMonitorWriteRecord(record, progress);
    });
}

Result RomMonitorConnection::RomMonitorRunAt(uint32_t address) {
    context_.Log(FormatText("Run image at address 0x%X", address));
    if (Result sent = RomMonitorSendEchoed(FormatText("G %08X\r", address)); !sent) {
        return sent;
    }
    // The final CR is not echoed; it must reach the monitor before the purge.
    if (Result purged = boot::PurgeAfterSending(context_, 1); !purged) {
        return purged;
    }
    context_.InterruptibleSleep(context_.Link().TransmitTime(3));
    return {};
}
