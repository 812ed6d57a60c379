#include "targets/BootSteps.h"

#include "flashloader/LinkWait.h"
#include "flashloader/SfldLoader.h"
#include "image/SectionRecords.h"

#include <algorithm>
#include <memory>
#include <string>

namespace boot {

namespace {
constexpr char kNoAnswer[] = "started code did not answer";
constexpr char kUploadFailed[] = "section upload failed";
}  // namespace

void StartLine(ProtocolContext& context, int32_t speedCode) {
    CommLink& link = context.Link();
    link.SetSpeed(speedCode);
    link.Purge();
    context.Log("Baud rate - " + std::to_string(speedcode::kBaud[speedCode]));
}

Result PurgeAfterSending(ProtocolContext& context, uint32_t count) {
    // A reader that lags the line by a few milliseconds still gets the bytes.
    constexpr uint32_t kLineSettleMs = 50;
    if (!linkwait::WaitTransmitDone(context)) {
        return Result::Aborted();
    }
    CommLink& link = context.Link();
    context.InterruptibleSleep(link.TransmitTime(count) + kLineSettleMs);
    if (context.IsAborted()) {
        return Result::Aborted();
    }
    link.Purge();
    return {};
}

uint32_t WordAt(const uint8_t* data, uint32_t count, uint32_t offset) {
    uint32_t word = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        const uint8_t byte = offset + i < count ? data[offset + i] : kShortWordFill;
        word |= static_cast<uint32_t>(byte) << (8 * i);
    }
    return word;
}

uint16_t WordsPerMille(double done, double total) {
    return std::min<uint16_t>(PerMille(done, total), 1000);
}

const uint8_t* RecordData(const SfldRecord& record) {
    return record.Frame() + SfldRecord::kPayloadOffset + 4;
}

Result UploadRecords(ProtocolContext& context, const ParsedSection& section,
                     const std::function<Result(SfldRecord&)>& write) {
    // Too large for the worker thread's stack to hold comfortably next to the protocol frames.
    auto record = std::make_unique<SfldRecord>();
    SectionRecords records(section);
    for (;;) {
        if (context.IsAborted()) {
            return Result::Aborted();
        }
        records.Next(*record);
        if (record->dataCount == 0) {
            return {};
        }
        if (Result written = write(*record); !written) {
            return written;
        }
    }
}

Result LoadAndRun(ProtocolContext& context, const LoadSteps& steps) {
    context.Log("*Load image*");
    context.Log("Target - " + steps.name);
    context.Log("> Try to connnect target");
    context.SetProgress(0);
    context.SetStatus("Connect target");

    // A step that failed without words of its own is named for the user.
    const auto named = [&steps](const Result& step, const char* what) {
        return step.words().empty() ? Result::Error(step.code(), steps.name + what) : step;
    };
    Result outcome = named(steps.connect(), " did not connect");
    if (outcome) {
        context.BootConnected();
        context.Log(steps.name + " - connected");
        context.SetStatus("Upload data");
        if (Result uploaded = steps.upload(); !uploaded) {
            context.Log(ErrorText(kUploadFailed));
            outcome = uploaded.Within(ErrorText(kUploadFailed));
        }
    }
    // An upload cut short by an abort has already failed above, so no run command ever goes
    // into a partly loaded image.
    if (outcome) {
        context.SetStatus("Run");
        context.Log("Section upload is successful");
        outcome = named(steps.run(), " did not start the code");
    }
    if (context.CancelRequested()) {
        context.Log("Cancel...");
    }
    if (context.IsAborted()) {
        return Result::Aborted();
    }
    if (!outcome) {
        return outcome;
    }
    if (steps.answer) {
        if (Result answered = steps.answer(); !answered) {
            if (context.IsAborted()) {
                return Result::Aborted();
            }
            context.SetStatus(ErrorText(kNoAnswer));
            context.Log(ErrorText(kNoAnswer));
            return answered.Within(ErrorText(kNoAnswer));
        }
    }
    context.SetStatus("Complete");
    return {};
}

bool BootWait::IsAborted() {
    if (inner_.IsAborted()) {
        return true;
    }
    if (!connected_ && !expired_ && limitMs_ != 0 &&
        inner_.GetClock().NowMs() - startMs_ >= limitMs_) {
        expired_ = true;
    }
    return expired_;
}

void BootWait::InterruptibleSleep(uint32_t ms) {
    // The pacing's slices look at this context's abort, so the limit ends a long pause too.
    SleepInSlices(inner_.GetClock(), ms, [this] { return IsAborted(); });
}

}  // namespace boot
