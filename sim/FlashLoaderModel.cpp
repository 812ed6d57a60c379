// The secondary flash loader: single-byte commands, framed records, erasing and programming
// of the NOR flash.
#include <algorithm>

#include "sim/DeviceModel.h"
#include "sim/SimText.h"

namespace {
// After a frame with an impossible length the device skips input until the line is quiet.
constexpr uint64_t kDiscardGapMs = 20;

uint32_t BigEndian32(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
           static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}
}  // namespace

void DeviceModel::LoaderByte(uint8_t byte, uint64_t nowMs) {
    switch (loader_) {
        case LoaderState::Boot:
        case LoaderState::Records:
            RecordByte(byte, nowMs);
            return;
        case LoaderState::Ready:
        case LoaderState::SectionStarted:
            LoaderCommand(byte, nowMs);
            return;
        case LoaderState::Erasing:
            Violation(FormatText("byte 0x%02X while the flash is being erased", byte));
            return;
        case LoaderState::Busy:
            Violation(FormatText("byte 0x%02X while a record is being programmed", byte));
            return;
    }
}

void DeviceModel::LoaderCommand(uint8_t byte, uint64_t nowMs) {
    if (byte == SimCodes::SYNC_CODE) {
        // The end of a connect sequence; its 0x55 was taken as a section start.
        ++counters_.connects;
        loader_ = LoaderState::Ready;
        Reply(nowMs, SimCodes::SYNC_CODE);
        return;
    }
    if (loader_ == LoaderState::SectionStarted) {
        if (byte == SimCodes::ERASE_CODE) {
            Reply(nowMs, SimCodes::OK_CODE);
            Reply(nowMs, SimCodes::REC_WAIT_CODE);
            ExpectRecord(RecordKind::Erase);
        } else if (byte == SimCodes::OK_CODE) {
            Reply(nowMs, SimCodes::OK_CODE);
        } else {
            Violation(
                FormatText("byte 0x%02X after the section start where ERASE_CODE belongs", byte));
            Reply(nowMs, SimCodes::BAD_COMMAND);
        }
        return;
    }
    const FlashChip& chip = flash_.Chip();
    switch (byte) {
        case SimCodes::OK_CODE:
            loader_ = LoaderState::SectionStarted;
            if (config_.faults.programFailAtStart) {
                ++counters_.programFails;
                Reply(nowMs, SimCodes::PROGRAM_FAIL);
            }
            Reply(nowMs, SimCodes::OK_CODE);
            return;
        case SimCodes::VERSION_CODE:
            Reply(nowMs, config_.sfldVersion + "\r\n");
            return;
        case SimCodes::FLASH_ID_CODE:
            if (config_.flashId == FlashIdAnswer::Full) {
                const uint8_t answer[9] = {SimCodes::FLASH_ID_CODE,
                                           chip.cfi,
                                           chip.manufacturer,
                                           static_cast<uint8_t>(chip.deviceId >> 8),
                                           static_cast<uint8_t>(chip.deviceId),
                                           static_cast<uint8_t>(chip.size >> 24),
                                           static_cast<uint8_t>(chip.size >> 16),
                                           static_cast<uint8_t>(chip.size >> 8),
                                           static_cast<uint8_t>(chip.size)};
                Reply(nowMs, std::string(answer, answer + sizeof answer));
            } else if (config_.flashId == FlashIdAnswer::Short) {
                const char answer[2] = {static_cast<char>(SimCodes::FLASH_ID_CODE),
                                        static_cast<char>(config_.shortFlashId)};
                Reply(nowMs, std::string(answer, 2));
            }
            return;
        case SimCodes::BOOT_RELOAD:
            if (config_.bootReload == BootReloadAnswer::Accept) {
                Reply(nowMs, SimCodes::BOOT_RELOAD);
            } else if (config_.bootReload == BootReloadAnswer::Refuse) {
                Reply(nowMs, SimCodes::BAD_COMMAND);
            }
            return;
        default:
            Violation(FormatText("unknown flash loader command 0x%02X", byte));
            Reply(nowMs, SimCodes::BAD_COMMAND);
            return;
    }
}

void DeviceModel::ExpectRecord(RecordKind kind) {
    recordKind_ = kind;
    recordPhase_ = RecordPhase::Lead;
    frame_.Reset();
    if (mode_ == Personality::FlashLoader) {
        loader_ = kind == RecordKind::BootEnd ? LoaderState::Boot : LoaderState::Records;
    }
}

void DeviceModel::RecordByte(uint8_t byte, uint64_t nowMs) {
    if (recordPhase_ == RecordPhase::Discard) {
        const bool quiet = nowMs - lastRecordByteMs_ >= kDiscardGapMs;
        lastRecordByteMs_ = nowMs;
        if (!quiet) {
            return;
        }
        recordPhase_ = RecordPhase::Lead;
    }
    lastRecordByteMs_ = nowMs;
    const bool loader = mode_ == Personality::FlashLoader;
    switch (recordPhase_) {
        case RecordPhase::Lead:
            if (byte == SimCodes::OK_CODE) {
                if (RecWaitOn()) {
                    Reply(nowMs, SimCodes::REC_WAIT_CODE);
                }
                recordPhase_ = RecordPhase::AfterLead;
            } else if (byte == SimCodes::SYNC_CODE && loader) {
                ++counters_.connects;
                ExpectRecord(RecordKind::BootEnd);
                loader_ = LoaderState::Ready;
                Reply(nowMs, SimCodes::SYNC_CODE);
            } else if (loader && loader_ == LoaderState::Boot) {
                Violation(FormatText("byte 0x%02X before the connect sequence", byte));
            } else {
                Violation(FormatText("byte 0x%02X where a record's lead byte 0x55 belongs", byte));
                Reply(nowMs, SimCodes::BAD_COMMAND);
            }
            return;
        case RecordPhase::AfterLead:
            if (byte == SimCodes::SYNC_CODE && loader) {
                ++counters_.connects;
                ExpectRecord(RecordKind::BootEnd);
                loader_ = LoaderState::Ready;
                Reply(nowMs, SimCodes::SYNC_CODE);
            } else if (byte == SimCodes::OK_CODE) {
                // The host gave up waiting and sent the lead byte again.
                if (RecWaitOn()) {
                    Reply(nowMs, SimCodes::REC_WAIT_CODE);
                }
            } else if (frame_.Feed(byte) == FrameReceiver::Result::NotFrame) {
                Violation(FormatText("record begins with 0x%02X instead of '['", byte));
                recordPhase_ = RecordPhase::Lead;
                Reply(nowMs, SimCodes::BAD_COMMAND);
            } else {
                recordPhase_ = RecordPhase::InFrame;
            }
            return;
        case RecordPhase::InFrame: {
            const FrameReceiver::Result result = frame_.Feed(byte);
            if (result != FrameReceiver::Result::More) {
                RecordEnded(result, nowMs);
            }
            return;
        }
        case RecordPhase::Discard:
            return;
    }
}

void DeviceModel::RecordEnded(FrameReceiver::Result result, uint64_t nowMs) {
    ++counters_.recordsReceived;
    const uint32_t n = counters_.recordsReceived;
    recordPhase_ = RecordPhase::Lead;
    switch (result) {
        case FrameReceiver::Result::BadLength:
            Violation(FormatText("record %u: word count above %u", n, FrameReceiver::kMaxWords));
            recordPhase_ = RecordPhase::Discard;
            RecordFailed(SimCodes::BAD_LENGTH, nowMs);
            return;
        case FrameReceiver::Result::NoEnd:
            Violation(FormatText("record %u: no ']' after its checksum", n));
            RecordFailed(SimCodes::NO_REC_END, nowMs);
            return;
        case FrameReceiver::Result::BadChecksum:
            Violation(FormatText("record %u: checksum does not match its payload", n));
            RecordFailed(SimCodes::BAD_CSUM, nowMs);
            return;
        default:
            break;
    }
    if (InjectedError(nowMs)) {
        return;
    }
    switch (recordKind_) {
        case RecordKind::BootEnd:
            BootEndRecord(nowMs);
            return;
        case RecordKind::Erase:
            EraseRecord(nowMs);
            return;
        case RecordKind::Data:
            DataRecord(nowMs);
            return;
        case RecordKind::Load:
            LoadRecord(nowMs);
            return;
    }
}

void DeviceModel::RecordFailed(uint8_t code, uint64_t nowMs) {
    ++counters_.recordErrors;
    Reply(nowMs, code);
}

bool DeviceModel::InjectedError(uint64_t nowMs) {
    const FaultSwitches& f = config_.faults;
    const uint32_t n = counters_.recordsReceived;
    if (f.errorRecord == 0 || n < f.errorRecord || n - f.errorRecord >= f.errorCount) {
        return false;
    }
    Note(FormatText("record %u answered with 0x%02X", n, f.errorCode));
    const bool loader = mode_ == Personality::FlashLoader;
    if (loader && recordKind_ == RecordKind::Erase &&
        (f.errorCode == SimCodes::PROGRAM_FAIL || f.errorCode == SimCodes::FLASH_FULL_CODE)) {
        // The range was taken; erasing it is what fails.
        Reply(nowMs, SimCodes::OK_CODE);
        Reply(nowMs, f.errorCode);
        loader_ = LoaderState::Ready;
        return true;
    }
    if (loader && recordKind_ == RecordKind::Data && f.errorCode == SimCodes::PROGRAM_FAIL) {
        if (frame_.Words() == 0) {
            loader_ = LoaderState::Ready;
            ProgramFailed(nowMs);
            return true;
        }
        if (f.programFailEarly) {
            ++counters_.programFails;
            Reply(nowMs, SimCodes::PROGRAM_FAIL);
            if (!f.programFailThenOk) {
                return true;
            }
            // The record is not written, yet answered as if it were.
            Reply(nowMs, SimCodes::OK_CODE);
            loader_ = LoaderState::Busy;
            At(nowMs + config_.programMs, [this](uint64_t at) {
                ExpectRecord(RecordKind::Data);
                Reply(at, SimCodes::OK_CODE);
            });
            return true;
        }
        Reply(nowMs, SimCodes::OK_CODE);
        loader_ = LoaderState::Busy;
        At(nowMs + config_.programMs, [this](uint64_t at) {
            ExpectRecord(RecordKind::Data);
            ProgramFailed(at);
        });
        return true;
    }
    RecordFailed(f.errorCode, nowMs);
    return true;
}

// The loader just started by a boot connection answers the end record that follows the run
// command; anything else must wait for the connect sequence.
void DeviceModel::BootEndRecord(uint64_t nowMs) {
    if (frame_.Words() != 0) {
        Violation("record other than the end record before the connect sequence");
        RecordFailed(SimCodes::BAD_COMMAND, nowMs);
        return;
    }
    Note("end record answered by the started loader");
    Reply(nowMs, SimCodes::OK_CODE);
}

void DeviceModel::EraseRecord(uint64_t nowMs) {
    if (frame_.Words() != 4) {
        Violation(FormatText("erase record of %u words where 4 belong", frame_.Words()));
        RecordFailed(SimCodes::BAD_LENGTH, nowMs);
        return;
    }
    const uint32_t from = frame_.Address();
    const uint32_t to = BigEndian32(frame_.Payload(), 4);
    Reply(nowMs, SimCodes::OK_CODE);
    if (from > to) {
        Violation(FormatText("erase range 0x%08X to 0x%08X runs backwards", from, to));
    }
    const std::vector<uint32_t> sectors = flash_.SectorsFor(from, to);
    if (from > to || (from != to && sectors.empty())) {
        Note(FormatText("erase range 0x%08X to 0x%08X does not fit the flash", from, to));
        loader_ = LoaderState::Ready;
        Reply(nowMs, SimCodes::FLASH_FULL_CODE);
        return;
    }
    ++counters_.eraseRanges;
    erasedFrom_ = from;
    erasedTo_ = to;
    Note(FormatText("erase 0x%08X to 0x%08X: %zu sectors", from, to, sectors.size()));
    if (!config_.faults.noParameter) {
        const uint8_t message[3] = {SimCodes::PARAM_CODE, SimCodes::ERASE_CODE,
                                    static_cast<uint8_t>(std::min<size_t>(sectors.size(), 255))};
        Reply(nowMs, std::string(message, message + 3));
    }
    loader_ = LoaderState::Erasing;
    uint64_t at = nowMs;
    for (uint32_t sector : sectors) {
        at += config_.faults.eraseMsPerSector;
        At(at, [this, sector](uint64_t when) {
            flash_.EraseSector(sector);
            ++counters_.sectorsErased;
            Reply(when, SimCodes::SECTOR_ERASED);
            if (counters_.sectorsErased == config_.faults.unplugInErase) {
                Unplug(FormatText("unplugged after %u sectors erased", counters_.sectorsErased));
            }
        });
    }
    At(at, [this](uint64_t when) {
        ExpectRecord(RecordKind::Data);
        Reply(when, SimCodes::OK_CODE);
    });
}

bool DeviceModel::CarriesData(uint64_t nowMs) {
    if (frame_.Words() > 2) {
        return true;
    }
    Violation(FormatText("data record of %u words carries no data", frame_.Words()));
    RecordFailed(SimCodes::BAD_LENGTH, nowMs);
    return false;
}

void DeviceModel::DataRecord(uint64_t nowMs) {
    if (frame_.Words() == 0) {
        Note("end of data");
        loader_ = LoaderState::Ready;
        Reply(nowMs, SimCodes::OK_CODE);
        return;
    }
    if (!CarriesData(nowMs)) {
        return;
    }
    const uint32_t address = frame_.Address();
    std::vector<uint8_t> data(frame_.Payload().begin() + 4, frame_.Payload().end());
    Reply(nowMs, SimCodes::OK_CODE);
    loader_ = LoaderState::Busy;
    At(nowMs + config_.programMs,
       [this, address, data](uint64_t at) mutable { ProgramRecord(address, std::move(data), at); });
}

void DeviceModel::ProgramRecord(uint32_t address, std::vector<uint8_t> data, uint64_t nowMs) {
    ExpectRecord(RecordKind::Data);
    // The frame cannot tell a pad byte from data: a 0x00 just past the erased range, closing
    // a record, can only be the pad of an odd byte count.
    const uint32_t count = static_cast<uint32_t>(data.size());
    if (data.back() == 0 && address + count - 1 == erasedTo_ && address < erasedTo_) {
        data.pop_back();
    }
    const uint32_t n = static_cast<uint32_t>(data.size());
    if (!flash_.Contains(address, n)) {
        Violation(FormatText("record at 0x%08X of %u bytes lies outside the flash", address, n));
        ProgramFailed(nowMs);
        return;
    }
    if (address < erasedFrom_ || address + n > erasedTo_) {
        Violation(
            FormatText("record at 0x%08X of %u bytes lies outside the erased range 0x%08X to "
                       "0x%08X",
                       address, n, erasedFrom_, erasedTo_));
    }
    const uint32_t unerased = flash_.UnerasedIn(address, data.data(), n);
    flash_.Program(address, data.data(), n);
    if (unerased != 0) {
        ++counters_.unerasedPrograms;
        counters_.unerasedBytes += unerased;
        Violation(FormatText("record at 0x%08X programmed over %u bytes that were not erased",
                             address, unerased));
        ProgramFailed(nowMs);
        return;
    }
    ++counters_.recordsProgrammed;
    Reply(nowMs, SimCodes::OK_CODE);
}

void DeviceModel::ProgramFailed(uint64_t nowMs) {
    ++counters_.programFails;
    Reply(nowMs, SimCodes::PROGRAM_FAIL);
    if (config_.faults.programFailThenOk) {
        Reply(nowMs, SimCodes::OK_CODE);
    }
}

void DeviceModel::LoadRecord(uint64_t nowMs) {
    if (frame_.Words() == 0) {
        Violation("end record sent to the primary flash loader before a run command");
        RecordFailed(SimCodes::BAD_COMMAND, nowMs);
        return;
    }
    if (!CarriesData(nowMs)) {
        return;
    }
    const uint32_t address = frame_.Address();
    const std::vector<uint8_t>& payload = frame_.Payload();
    for (size_t i = 4; i < payload.size(); ++i) {
        ram_[address + static_cast<uint32_t>(i - 4)] = payload[i];
    }
    ++counters_.recordsLoaded;
    Reply(nowMs, SimCodes::OK_CODE);
}
