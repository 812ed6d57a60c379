// Connecting to the loader, its version line and the waits for single answer codes.
#include "flashloader/SfldLoader.h"

#include <algorithm>
#include <cmath>

#include "flashloader/SfldCodes.h"

using linkwait::Got;
using namespace sfld;

namespace {

constexpr char kNoLoader[] = "no answer from the flash loader";

// The loader's refusals of a record; every other byte but OK_CODE is ignored.
struct RecordError {
    uint8_t code;
    const char* line;
};
constexpr RecordError kRecordErrors[] = {
    {BAD_CSUM, "BAD_CSUM"},       {BAD_LENGTH, "BAD_LENGTH"},
    {BAD_COMMAND, "BAD_COMMAND"}, {RECORD_TIMEOUT, "RECORD_TIMEOUT"},
    {NO_REC_END, "NO_REC_END"},
};

}  // namespace

Result SfldLoader::Connect() {
    context_.InterruptibleSleep(link_.TransmitTime(3));
    link_.WriteByte(OK_CODE);
    context_.InterruptibleSleep(link_.TransmitTime(10));
    link_.WriteByte(SYNC_CODE);
    context_.InterruptibleSleep(link_.TransmitTime(10));

    const uint64_t start = Now();
    uint8_t byte = 0;
    while (NextByte(start, kConnectWaitMs, byte) == Got::Byte) {
        if (byte == SYNC_CODE) {
            context_.SetStatus("SFLD Connected");
            context_.Log("SFLD Connected");
            return {};
        }
    }
    if (context_.IsAborted()) {
        return Result::Aborted();
    }
    return Result::Error(Result::Code::NoAnswer, kNoLoader);
}

Result SfldLoader::FindLoader(uint32_t patienceMs) {
    // The device may still leave and come back in its loader: that is no failure here.
    context_.WatchDevice(false);
    const uint64_t start = Now();
    for (;;) {
        // The port is closed only when its device has left; reopening it may restart the
        // device on boards whose reset or boot pins hang on the modem lines.
        link_.CheckDevice();
        if (link_.IsOpen() != 0 && Connect()) {
            context_.WatchDevice(true);
            return {};
        }
        if (context_.IsAborted()) {
            return Result::Aborted();
        }
        if (Now() - start >= patienceMs) {
            Result failure = link_.IsOpen() == 0 && link_.DeviceLeft()
                                 ? Result::Failure(Result::Code::DeviceLeft, DeviceLeftText(link_))
                                 : Result::Error(Result::Code::NoAnswer, kNoLoader);
            context_.SetStatus(failure.words());
            context_.Log(failure.words());
            return failure;
        }
        if (link_.IsOpen() == 0) {
            // The port keeper opens whatever answers to the port's name now.
            context_.InterruptibleSleep(kFindPauseMs);
        }
    }
}

void SfldLoader::ReadVersion() {
    link_.Purge();
    link_.WriteByte(VERSION_CODE);
    std::string& version = session_.sfldVersion;
    version.clear();

    const uint64_t start = Now();
    bool collecting = false;
    uint8_t byte = 0;
    for (;;) {
        const Got got = NextByte(start, kVersionWaitMs, byte);
        if (got == Got::Aborted) {
            return;
        }
        if (got == Got::TimedOut) {
            break;
        }
        if (!collecting) {
            if (byte == '$') {
                version.push_back('$');
                collecting = true;
            }
        } else if (byte == '\r' || byte == '\n') {
            break;
        } else {
            version.push_back(static_cast<char>(byte));
        }
    }
    context_.Log(FormatText("SFLD Version ID: %s", version.c_str()));
}

Result SfldLoader::Await(uint64_t startMs, uint32_t limitMs, uint8_t& byte,
                         std::initializer_list<const char*> timeoutLines) {
    const Got got = NextByte(startMs, limitMs, byte);
    if (got == Got::Aborted) {
        return Result::Aborted();
    }
    if (got == Got::TimedOut) {
        for (const char* line : timeoutLines) {
            context_.Log(line);
        }
        return Result::Failure(Result::Code::NoAnswer, *timeoutLines.begin());
    }
    return {};
}

bool SfldLoader::ReadMessage(uint8_t& first, uint8_t& second) {
    const uint64_t start = Now();
    return NextByte(start, kParameterWaitMs, first) == Got::Byte &&
           NextByte(start, kParameterWaitMs, second) == Got::Byte;
}

bool SfldLoader::ReadParameter(uint8_t& value) {
    uint8_t first = 0;
    uint8_t second = 0;
    if (!ReadMessage(first, second) || first != ERASE_CODE) {
        return false;
    }
    value = second;
    return true;
}

bool SfldLoader::SkipMessage() {
    uint8_t first = 0;
    uint8_t second = 0;
    return ReadMessage(first, second);
}

Result SfldLoader::SendRecordOnce(const SfldRecord& record) {
    link_.WriteByte(OK_CODE);
    if (session_.RecordWaitMode) {
        if (Result waited = WaitRecWait(); !waited) {
            return waited;
        }
    }
    link_.Write(record.Frame(), record.length);
    // The loader's answer can only follow the whole frame; once it is here the frame is out.
    if (!linkwait::WaitTransmitDone(context_, true)) {
        return Result::Aborted();
    }

    const uint64_t start = Now();
    uint8_t byte = 0;
    for (;;) {
        if (context_.IsAborted()) {
            return Result::Aborted();
        }
        if (Now() - start >= kRecordAnswerMs) {
            Result timeout = Result::Error(Result::Code::NoAnswer, "Record asknowledge TIMEOUT.");
            context_.Log(timeout.words());
            return timeout;
        }
        if (link_.ReadByte(byte)) {
            if (byte == OK_CODE) {
                context_.Log(FormatText("Record write succesfull (A=0x%08X,SZ=0x%04X).",
                                        record.address, record.length - 6));
                return {};
            }
            if (byte == PARAM_CODE) {
                SkipMessage();
            } else if (byte == PROGRAM_FAIL) {
                // The answer still to come keeps the line in step; the section fails after it.
                NoteProgramFail();
            }
            for (const RecordError& error : kRecordErrors) {
                if (byte == error.code) {
                    Result refused = Result::Error(Result::Code::Refused, error.line);
                    context_.Log(refused.words());
                    return refused;
                }
            }
        }
        // One byte a pass; a pass that waits for the answer ends when it comes. The frame is
        // still on the line for most of the wait (the driver took it long before), so waking
        // at a fixed pace would cost a wake-up every few milliseconds of every record.
        const uint64_t elapsed = Now() - start;
        linkwait::Block(context_, static_cast<uint32_t>(std::min<uint64_t>(
                                      linkwait::kSliceMs, kRecordAnswerMs - elapsed)));
    }
}

Result SfldLoader::SendRecord(const SfldRecord& record) {
    const uint64_t start = Now();
    for (;;) {
        Result sent = SendRecordOnce(record);
        if (sent) {
            return sent;
        }
        if (context_.IsAborted()) {
            return Result::Aborted();
        }
        // After PROGRAM_FAIL the flash has failed: the record sent again would only be written
        // over what the first attempt left.
        if (programFailSeen_) {
            return ProgramFailed();
        }
        if (Now() - start >= kSendRecordMs) {
            const std::string timeout = ErrorText("Send Record TIMEOUT.");
            context_.Log(timeout);
            return sent.Within(timeout);
        }
    }
}

Result SfldLoader::WaitOk() {
    const uint64_t start = Now();
    uint8_t byte = 0;
    for (;;) {
        if (Result got = Await(start, kOkWaitMs, byte, {"'OK_CODE' waiting time out."}); !got) {
            return got;
        }
        if (byte == OK_CODE) {
            return {};
        }
        if (byte == PARAM_CODE) {
            SkipMessage();
        } else if (byte == PROGRAM_FAIL) {
            NoteProgramFail();
        }
    }
}

namespace {
constexpr char kProgramFailLine[] = "'PROGRAM_FAIL' msg received.";
}  // namespace

void SfldLoader::NoteProgramFail() {
    context_.Log(kProgramFailLine);
    programFailSeen_ = true;
}

Result SfldLoader::ProgramFailed() const {
    return Result::Failure(Result::Code::ProgramFailed, kProgramFailLine);
}

Result SfldLoader::WaitRecWait() {
    const uint64_t start = Now();
    uint8_t byte = 0;
    for (;;) {
        if (Result got = Await(start, kRecWaitMs, byte, {"'REC_WAIT_CODE' waiting time out."});
            !got) {
            return got;
        }
        if (byte == REC_WAIT_CODE) {
            return {};
        }
        if (byte == PARAM_CODE) {
            SkipMessage();
        } else if (byte == PROGRAM_FAIL) {
            NoteProgramFail();
        }
    }
}

uint16_t PerMille(double done, double total) {
    if (total <= 0) {
        return 1000;
    }
    // Truncated like the stored 16-bit value, but never past what it can hold.
    const double value = std::floor(done / total * 1000.0 + 0.5);
    return value >= 65535.0 ? 65535 : static_cast<uint16_t>(value);
}
