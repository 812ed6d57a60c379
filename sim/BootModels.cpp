// The boot personalities that load code into RAM and start it: the Kalmer primary flash
// loader, the Hestan mask-ROM monitor and the Orvane text monitor.
#include "sim/DeviceModel.h"
#include "sim/SimText.h"

namespace {
// Variant B's host sends this before every 'U'.
constexpr uint8_t kPflMessage[7] = {0x24, 0x24, 0x00, 0x07, 0x0A, 0x00, 0x0D};
constexpr size_t kLongestCommand = 40;
}  // namespace

bool DeviceModel::PflMessageByte(uint8_t byte) {
    if (config_.pflVariant != PflVariant::B || (pflMessage_ == 0 && byte != kPflMessage[0])) {
        return false;
    }
    if (byte != kPflMessage[pflMessage_]) {
        Violation(
            FormatText("byte 0x%02X breaks the speed message at its byte %zu", byte, pflMessage_));
        pflMessage_ = 0;
        return true;
    }
    if (++pflMessage_ == sizeof kPflMessage) {
        pflMessage_ = 0;
        pflMessageSeen_ = true;
    }
    return true;
}

void DeviceModel::PflByte(uint8_t byte, uint64_t nowMs) {
    switch (pfl_) {
        case PflState::Handshake:
            if (PflMessageByte(byte)) {
                return;
            }
            if (byte != 'U') {
                Violation(FormatText("byte 0x%02X during the speed handshake", byte));
                return;
            }
            if (config_.pflVariant == PflVariant::B && !pflMessageSeen_) {
                Violation("'U' without the speed message before it");
                return;
            }
            pfl_ = PflState::Connected;
            Reply(nowMs, 'D');
            return;
        case PflState::Connected:
            if (PflMessageByte(byte)) {
                return;
            }
            if (byte == 'U') {
                Reply(nowMs, 'D');  // a probe that crossed the answer
            } else if (byte == 'E') {
                pflVersionSent_ = true;
                Reply(nowMs, config_.pflVersion + "\r\n");
            } else if (byte == 'D' && pflVersionSent_) {
                Note("primary flash loader connected");
                pfl_ = PflState::Ready;
                ExpectRecord(RecordKind::Load);
            } else {
                Violation(FormatText("byte 0x%02X before the connection step ended", byte));
            }
            return;
        case PflState::Ready:
            if (byte == 'G' && recordPhase_ == RecordPhase::Lead) {
                pfl_ = PflState::RunCommand;
                line_.clear();
                return;
            }
            RecordByte(byte, nowMs);
            return;
        case PflState::RunCommand: {
            if (byte != '#') {
                line_ += static_cast<char>(byte);
                if (line_.size() > 8) {
                    Violation("run command too long: G" + Printable(line_));
                    pfl_ = PflState::Ready;
                }
                return;
            }
            uint32_t address;
            pfl_ = PflState::Ready;
            if (!ParseHex(line_, true, address)) {
                Violation("malformed run command G" + Printable(line_) + "#");
                return;
            }
            Run(address, nowMs);
            return;
        }
    }
}

// ROM monitor: a line editor that echoes what it is sent, except the CR that ends a line.
void DeviceModel::RomByte(uint8_t byte, uint64_t nowMs) {
    if (rom_ == RomState::Asleep) {
        if (byte == '\r') {
            line_ = "\r";
        } else if (byte == '\n' && line_ == "\r") {
            line_.clear();
            rom_ = RomState::Prompt;
            Reply(nowMs, '>');
        } else {
            line_.clear();
            Violation(FormatText("byte 0x%02X before the monitor's prompt", byte));
        }
        return;
    }
    if (byte == '\n') {
        return;
    }
    if (byte == '\r') {
        RomLine(nowMs);
        return;
    }
    if (line_.size() >= kLongestCommand) {
        Violation("monitor command too long: " + Printable(line_));
        line_.clear();
        return;
    }
    line_ += static_cast<char>(byte);
    Reply(nowMs, byte);
}

void DeviceModel::RomLine(uint64_t nowMs) {
    const std::string command = line_;
    line_.clear();
    if (rom_ == RomState::Prompt) {
        if (command == "T") {
            rom_ = RomState::Test;
            Reply(nowMs, ":test>");
            return;
        }
        if (!command.empty()) {
            Violation("unknown command at the monitor prompt: " + Printable(command));
        }
        Reply(nowMs, '>');
        return;
    }
    uint32_t address, value;
    if (command.empty() || command == "T") {
        Reply(nowMs, ":test>");
    } else if (command.size() == 19 && command.compare(0, 2, "P ") == 0 && command[10] == ' ' &&
               ParseHex(command.substr(2, 8), false, address) &&
               ParseHex(command.substr(11, 8), false, value)) {
        StoreWord(address, value);
        Reply(nowMs, ":test>");
    } else if (command.size() == 10 && command.compare(0, 2, "G ") == 0 &&
               ParseHex(command.substr(2, 8), false, address)) {
        Run(address, nowMs);
    } else {
        Violation("malformed test screen command: " + Printable(command));
        Reply(nowMs, ":test>");
    }
}

// Text monitor: NMEA-style "$...\r\n" lines outside it, '#'-ended commands inside it.
void DeviceModel::MonitorByte(uint8_t byte, uint64_t nowMs) {
    if (!line_.empty() && line_[0] == '$') {
        if (byte != '\n') {
            line_ += static_cast<char>(byte);
            if (line_.size() > 80) {
                Violation("NMEA line too long: " + Printable(line_));
                line_.clear();
            }
            return;
        }
        const std::string line = line_;
        line_.clear();
        if (line == "$PASHQ,PRT\r") {
            Reply(nowMs, '>');
        } else if (line == "$PASHS,MON\r") {
            monitorOn_ = true;
            Reply(nowMs, '>');
        } else {
            Violation("unknown NMEA line " + Printable(line + "\n"));
        }
        return;
    }
    if (line_.empty() && byte == '$') {
        line_ = "$";
        return;
    }
    if (!monitorOn_) {
        Violation(FormatText("byte 0x%02X before the monitor was entered", byte));
        return;
    }
    if (byte == '#') {
        MonitorCommand(nowMs);
        return;
    }
    line_ += static_cast<char>(byte);
    if (line_.size() > kLongestCommand) {
        Violation("monitor command too long: " + Printable(line_));
        line_.clear();
    }
}

void DeviceModel::MonitorCommand(uint64_t nowMs) {
    const std::string command = line_;
    line_.clear();
    if (command.empty()) {
        return;  // '#' also opens a command
    }
    uint32_t address, value;
    const size_t comma = command.find(',');
    if (command == "V") {
        Reply(nowMs + config_.monitorReplyMs, config_.monitorId + "\r\n>");
    } else if (command[0] == 'W' && comma != std::string::npos &&
               ParseHex(command.substr(1, comma - 1), true, address) &&
               ParseHex(command.substr(comma + 1), true, value)) {
        StoreWord(address, value);
        Reply(nowMs, '>');
    } else if (command[0] == 'G' && ParseHex(command.substr(1), true, address)) {
        Run(address, nowMs);
    } else {
        Violation("malformed monitor command " + Printable(command) + "#");
        Reply(nowMs, '?');
    }
}
