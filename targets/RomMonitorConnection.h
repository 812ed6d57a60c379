#pragma once
// The Hestan mask-ROM monitor: CR LF until '>', the test screen (":test>"), one echoed
// "P address value" command per 32-bit word, and "G address" to start the code.
#include <cstdint>
#include <string>

#include "targets/BootConnection.h"

class RomMonitorConnection : public BootConnection {
  public:
    // Progress over one section: bytes sent against the section's size.
    struct Progress {
        double size = 0;
        double sent = 0;
        uint16_t last = 0;
    };

    RomMonitorConnection(ProtocolContext& context, int32_t speedCode)
        : context_(context), speedCode_(speedCode) {}

    // Connects, writes the section and starts it at its start address.
    Result LoadAndRun(const ParsedSection& section) override;
    Result RomMonitorConnect();
    bool RomMonitorEnterTestScreen();
    bool RomMonitorWaitTestPrompt();
    Result RomMonitorSendEchoed(const std::string& text);
    // The words of one record's data, stored from address on.
    Result RomMonitorWriteWords(uint32_t address, const uint8_t* data, uint32_t count,
                                Progress& progress);
    Result RomMonitorWriteRecord(const SfldRecord& record, Progress& progress);
    Result RomMonitorUploadSection(const ParsedSection& section);
    Result RomMonitorRunAt(uint32_t address);

  private:
    bool AwaitPromptAndEnter();
    // Logs the line and fails with it.
    Result Fail(Result::Code code, const char* line);

    ProtocolContext& context_;
    const int32_t speedCode_;
};
