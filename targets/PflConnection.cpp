#include "targets/PflConnection.h"

#include "flashloader/LinkWait.h"
#include "flashloader/SfldLoader.h"
#include "targets/BootSteps.h"

namespace {
constexpr uint8_t kProbe = 0x55;         // 'U'
constexpr uint8_t kAnswer = 0x44;        // 'D', also the host's closing byte
constexpr uint8_t kVersionQuery = 0x45;  // 'E'
constexpr uint8_t kVersionStart = '$';
constexpr uint32_t kWindowMs = 250;
constexpr uint32_t kSliceMs = 10;
constexpr uint32_t kVersionMs = 1000;
constexpr uint32_t kDrainA = 10001;
constexpr uint32_t kDrainC = 1001;
constexpr int kNoByte = -1;
// Variant B's PFL wants this before every probe.
constexpr uint8_t kWakeMessage[] = {0x24, 0x24, 0x00, 0x07, 0x0A, 0x00, 0x0D};
}  // namespace

Result PflConnection::LoadAndRun(const ParsedSection& section) {
    // The started code must answer the end record; "Complete" waits for that answer.
    return boot::LoadAndRun(
        context_,
        {"Kalmer PFL", [&] { return PflConnect(); }, [&] { return PflUploadSection(section); },
         [&] { return PflRunAt(section.start); },
         [&] {
             SfldRecord end;
             end.MakeEnd();
             return sendRecord_ ? sendRecord_(end)
                                : Result::Failure(Result::Code::NotSupported, "");
         }});
}

Result PflConnection::PflConnect() {
    boot::StartLine(context_, speedCode_);
    if (!context_.IsAborted()) {
        for (;;) {
            Window window = Window::kSilent;
            switch (variant_) {
                case Variant::A:
                    // A's loader may still be talking after its 'D': the window always runs out.
                    window = ProbeDrained(kDrainA, false);
                    break;
                case Variant::B:
                    window = ProbeAfterMessage();
                    break;
                case Variant::C:
                    window = ProbeDrained(kDrainC, true);
                    break;
            }
            if (window == Window::kAborted) {
                return Result::Aborted();
            }
            if (window == Window::kAnswered || context_.IsAborted()) {
                break;
            }
        }
    }
    if (Result version = PflReadVersion(); !version) {
        return version;
    }
    context_.Link().WriteByte(kAnswer);
    return {};
}

bool PflConnection::SendProbe() {
    CommLink& link = context_.Link();
    link.WriteByte(kProbe);
    if (!linkwait::WaitTransmitDone(context_)) {
        return false;
    }
    context_.InterruptibleSleep(link.TransmitTime(5));
    return true;
}

PflConnection::Window PflConnection::ProbeDrained(uint32_t drainLimit, bool leaveOnAnswer) {
    if (!SendProbe()) {
        return Window::kAborted;
    }
    CommLink& link = context_.Link();
    Clock& clock = context_.GetClock();
    int last = kNoByte;
    const uint64_t start = clock.NowMs();
    while (clock.NowMs() - start < kWindowMs) {
        context_.InterruptibleSleep(kSliceMs);
        uint8_t byte = 0;
        if (link.ReadByte(byte)) {
            last = byte;
            for (uint32_t more = 0; last != kAnswer && more < drainLimit && link.ReadByte(byte);
                 ++more) {
                last = byte;
            }
        }
        if (context_.IsAborted()) {
            return Window::kAborted;
        }
        if (leaveOnAnswer && last == kAnswer) {
            return Window::kAnswered;
        }
    }
    return last == kAnswer ? Window::kAnswered : Window::kSilent;
}

PflConnection::Window PflConnection::ProbeAfterMessage() {
    CommLink& link = context_.Link();
    link.SetSpeed(speedCode_);
    context_.InterruptibleSleep(link.TransmitTime(3));
    link.Write(kWakeMessage, sizeof kWakeMessage);
    if (!linkwait::WaitTransmitDone(context_)) {
        return Window::kAborted;
    }
    context_.InterruptibleSleep(link.TransmitTime(5));
    link.SetSpeed(speedCode_);
    context_.InterruptibleSleep(link.TransmitTime(3));
    if (!SendProbe()) {
        return Window::kAborted;
    }
    return AwaitAnswerByte();
}

PflConnection::Window PflConnection::AwaitAnswerByte() {
    CommLink& link = context_.Link();
    Clock& clock = context_.GetClock();
    const uint64_t start = clock.NowMs();
    while (clock.NowMs() - start < kWindowMs) {
        context_.InterruptibleSleep(kSliceMs);
        uint8_t byte = 0;
        if (link.ReadByte(byte) && byte == kAnswer) {
            return Window::kAnswered;
        }
        if (context_.IsAborted()) {
            return Window::kAborted;
        }
    }
    return Window::kSilent;
}

Result PflConnection::PflReadVersion() {
    CommLink& link = context_.Link();
    link.Purge();
    link.WriteByte(kVersionQuery);
    const uint64_t start = context_.GetClock().NowMs();
    std::string& text = pfldVersion_;
    text.clear();
    bool collecting = false;
    for (;;) {
        if (context_.IsAborted()) {
            return Result::Aborted();
        }
        uint8_t byte = 0;
        if (const linkwait::Got got = linkwait::NextByte(context_, start, kVersionMs, byte);
            got != linkwait::Got::Byte) {
            // No line of its own: the connection names the step that failed.
            return got == linkwait::Got::Aborted || context_.IsAborted()
                       ? Result::Aborted()
                       : Result::Failure(Result::Code::NoAnswer, "");
        }
        if (byte == kVersionStart) {
            collecting = true;
        } else if (!collecting) {
            continue;
        } else if (byte == '\r' || byte == '\n') {
            context_.Log("PFLD Version ID: " + text);
            return {};
        }
        text += static_cast<char>(byte);
    }
}

Result PflConnection::PflUploadSection(const ParsedSection& section) {
    if (!sendRecord_) {
        return Result::Failure(Result::Code::NotSupported, "");
    }
    context_.SetProgress(0);
    double sent = 0;
    Result uploaded = boot::UploadRecords(context_, section, [&](SfldRecord& record) {
        Result written = sendRecord_(record);
        if (written) {
            sent += record.dataCount;
            context_.SetProgress(PerMille(sent, section.size));
        }
        return written;
    });
    if (uploaded) {
        context_.SetProgress(1000);
    }
    return uploaded;
}

Result PflConnection::RunAt(ProtocolContext& context, uint32_t address) {
    CommLink& link = context.Link();
    context.Log(FormatText("Run image at address 0x%X", address));
    const std::string command = FormatText("G%X#", address);
    link.WriteText(command.c_str());
    if (Result purged = boot::PurgeAfterSending(context, static_cast<uint32_t>(command.size()));
        !purged) {
        return purged;
    }
    context.InterruptibleSleep(link.TransmitTime(3));
    return {};
}
