#include "sim/DeviceModel.h"

#include "sim/SimText.h"

namespace {
constexpr uint32_t kBaud[10] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
}

uint32_t DeviceModel::BaudOfCode(int32_t code) {
    return code >= 0 && code <= 9 ? kBaud[code] : 0;
}

int32_t DeviceModel::CodeOfBaud(uint32_t baud) {
    for (int32_t code = 0; code <= 9; ++code) {
        if (kBaud[code] == baud) {
            return code;
        }
    }
    return -1;
}

int32_t DeviceModel::SpeedOf(Personality mode, const DeviceConfig& config) {
    switch (mode) {
        case Personality::FlashLoader:
            return config.sfldSpeed;
        case Personality::PrimaryFlashLoader:
            return config.pflVariant == PflVariant::A ? 6 : 8;
        case Personality::TextMonitor:
            return 8;
        default:
            return 6;
    }
}

DeviceModel::DeviceModel(DeviceConfig config)
    : config_(std::move(config)),
      flash_(config_.chip),
      mode_(config_.start),
      speed_(SpeedOf(config_.start, config_)),
      noise_(config_.faults.noiseSeed) {
    Become(config_.start, speed_);
}

void DeviceModel::Become(Personality mode, int32_t speed) {
    mode_ = mode;
    speed_ = speed;
    line_.clear();
    frame_.Reset();
    loader_ = LoaderState::Boot;
    recordKind_ = RecordKind::BootEnd;
    recordPhase_ = RecordPhase::Lead;
    pfl_ = PflState::Handshake;
    pflMessage_ = 0;
    pflMessageSeen_ = false;
    pflVersionSent_ = false;
    rom_ = RomState::Asleep;
    monitorOn_ = false;
}

void DeviceModel::Violation(const std::string& text) {
    // Under line noise the host cannot be blamed for what the device thinks it saw.
    if (config_.faults.noiseRate > 0) {
        Note("(noise) " + text);
        return;
    }
    violations_.push_back(text);
}

void DeviceModel::Note(const std::string& text) {
    notes_.push_back(text);
}

uint8_t DeviceModel::Noise(uint8_t byte) {
    if (config_.faults.noiseRate <= 0) {
        return byte;
    }
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (chance(noise_) >= config_.faults.noiseRate) {
        return byte;
    }
    std::uniform_int_distribution<int> flip(1, 255);
    return static_cast<uint8_t>(byte ^ flip(noise_));
}

void DeviceModel::Reply(uint64_t atMs, const std::string& bytes) {
    if (unplugged_) {
        return;
    }
    ++counters_.replies;
    if (config_.faults.silent) {
        return;
    }
    if (counters_.replies == config_.faults.dropReply) {
        ++counters_.repliesDropped;
        Note(FormatText("reply %u dropped: %s", counters_.replies, Printable(bytes).c_str()));
        return;
    }
    for (char c : bytes) {
        output_.push_back({Noise(static_cast<uint8_t>(c)), atMs, speed_});
        ++counters_.bytesSent;
    }
}

void DeviceModel::At(uint64_t atMs, std::function<void(uint64_t)> event) {
    events_.emplace(atMs, std::move(event));
}

bool DeviceModel::NextEventMs(uint64_t& atMs) const {
    bool any = false;
    if (!events_.empty()) {
        atMs = events_.begin()->first;
        any = true;
    }
    const bool recordOpen =
        recordPhase_ == RecordPhase::AfterLead || recordPhase_ == RecordPhase::InFrame;
    const bool takesRecords = (mode_ == Personality::FlashLoader &&
                               (loader_ == LoaderState::Boot || loader_ == LoaderState::Records)) ||
                              (mode_ == Personality::PrimaryFlashLoader && pfl_ == PflState::Ready);
    if (recordOpen && takesRecords && !unplugged_) {
        const uint64_t timeout = lastRecordByteMs_ + config_.recordTimeoutMs;
        if (!any || timeout < atMs) {
            atMs = timeout;
        }
        any = true;
    }
    return any;
}

void DeviceModel::Advance(uint64_t nowMs) {
    uint64_t at = 0;
    while (NextEventMs(at) && at <= nowMs) {
        if (!events_.empty() && events_.begin()->first == at) {
            auto event = std::move(events_.begin()->second);
            events_.erase(events_.begin());
            event(at);
            continue;
        }
        // A record that stopped half-way.
        const bool leadOnly = recordPhase_ == RecordPhase::AfterLead;
        frame_.Reset();
        recordPhase_ = RecordPhase::Lead;
        if (recordKind_ == RecordKind::BootEnd && leadOnly) {
            continue;  // a lone 0x55 before the connect: nothing to answer yet
        }
        Violation(FormatText("record stopped for %u ms %s", config_.recordTimeoutMs,
                             leadOnly ? "after its lead byte" : "inside its frame"));
        RecordFailed(SimCodes::RECORD_TIMEOUT, at);
    }
}

std::vector<OutByte> DeviceModel::TakeOutput() {
    std::vector<OutByte> result;
    result.swap(output_);
    return result;
}

void DeviceModel::Receive(uint8_t byte, int32_t speedCode, uint64_t nowMs) {
    Advance(nowMs);
    if (unplugged_) {
        return;
    }
    ++counters_.bytesReceived;
    byte = Noise(byte);
    if (mode_ == Personality::Away) {
        if (rebooting_) {
            Violation(FormatText("byte 0x%02X while the device re-appears", byte));
        }
    } else if (config_.checkSpeed && speedCode != speed_) {
        Violation(FormatText("byte 0x%02X sent at %u baud while the device runs at %u baud", byte,
                             BaudOfCode(speedCode), BaudOfCode(speed_)));
    } else {
        switch (mode_) {
            case Personality::Greeting:
                GreetingByte(byte, nowMs);
                break;
            case Personality::FlashLoader:
                LoaderByte(byte, nowMs);
                break;
            case Personality::PrimaryFlashLoader:
                PflByte(byte, nowMs);
                break;
            case Personality::RomMonitor:
                RomByte(byte, nowMs);
                break;
            case Personality::TextMonitor:
                MonitorByte(byte, nowMs);
                break;
            case Personality::Away:
                break;
        }
    }
    if (config_.faults.unplugAfter != 0 && counters_.bytesReceived >= config_.faults.unplugAfter) {
        Unplug(FormatText("unplugged after %llu bytes",
                          static_cast<unsigned long long>(counters_.bytesReceived)));
    }
}

void DeviceModel::Unplug(const std::string& note) {
    unplugged_ = true;
    events_.clear();
    Note(note);
}

void DeviceModel::Run(uint32_t address, uint64_t nowMs) {
    (void)nowMs;
    ++counters_.runs;
    if (!RamWritten(address)) {
        Violation(FormatText("run at 0x%X where nothing was loaded", address));
        Become(Personality::Away, speed_);
        return;
    }
    if (address == config_.loaderAddress) {
        Note(FormatText("run at 0x%X: flash loader started", address));
        Become(Personality::FlashLoader, speed_);
        return;
    }
    Note(FormatText("run at 0x%X: code of its own", address));
    Become(Personality::Away, speed_);
}

std::vector<uint8_t> DeviceModel::RamBytes(uint32_t address, uint32_t count) const {
    std::vector<uint8_t> result;
    for (uint32_t i = 0; i < count; ++i) {
        const auto it = ram_.find(address + i);
        result.push_back(it == ram_.end() ? 0 : it->second);
    }
    return result;
}

void DeviceModel::StoreWord(uint32_t address, uint32_t value) {
    for (uint32_t i = 0; i < 4; ++i) {
        ram_[address + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    ++counters_.wordsStored;
}

// Greeting: the application answers the two tokens; the second makes it reboot into its
// flash loader, which the host sees as the device leaving and a new one arriving.
void DeviceModel::GreetingByte(uint8_t byte, uint64_t nowMs) {
    line_ += static_cast<char>(byte);
    if (byte != '\n') {
        if (line_.size() > 64) {
            Violation("greeting line too long: " + Printable(line_));
            line_.clear();
        }
        return;
    }
    const std::string line = line_;
    line_.clear();
    if (line == "SA-28\r\n") {
        Reply(nowMs, config_.greetingReply + "\r\n");
        return;
    }
    if (line == "KV2-8\r\n") {
        Reply(nowMs, config_.changeReply + "\r\n");
        Become(Personality::Away, speed_);
        rebooting_ = true;
        At(nowMs + config_.reappearMs, [this](uint64_t) {
            rebooting_ = false;
            ++counters_.reappearances;
            Note("re-appeared as the flash loader");
            Become(Personality::FlashLoader, config_.sfldSpeed);
        });
        return;
    }
    Violation("unexpected greeting line " + Printable(line));
}
