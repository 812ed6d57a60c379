#pragma once
// The Orvane text monitor: NMEA-style commands enter it, "#V#" identifies it, "W address,value#"
// writes one 32-bit word (answered by '>'), and the PFL's run command starts the code.
#include <cstdint>

#include "targets/BootConnection.h"

class OrvaneConnection : public BootConnection {
  public:
    // The monitor runs on the Kalmer chip or in mask ROM; only the logged texts differ.
    enum class Variant { OnKalmer, MaskRom };

    // Progress over one section: bytes sent against the section's size.
    struct Tracker {
        double total = 0;
        double done = 0;
        uint16_t perMille = 0;
    };

    // A monitor that has not identified itself within this long is not coming; 0 leaves the
    // limit to the request's own wait.
    static constexpr uint32_t kConnectLimitMs = 30000;

    OrvaneConnection(ProtocolContext& context, Variant variant, int32_t speedCode,
                     uint32_t connectLimitMs = kConnectLimitMs)
        : context_(context),
          variant_(variant),
          speedCode_(speedCode),
          connectLimitMs_(connectLimitMs) {}

    // Connects, writes the section and starts it at its start address; no end record follows.
    Result LoadAndRun(const ParsedSection& section) override;
    Result OrvaneConnect();
    // The monitor's identification, logged; fails when no whole reply comes.
    Result OrvaneQueryId();
    // The words of one record's data, written from address on.
    Result OrvaneUploadSection(const ParsedSection& section);
    Result OrvaneWriteRecord(const SfldRecord& record, Tracker& tracker);
    Result OrvaneWriteWords(uint32_t address, const uint8_t* data, uint32_t count,
                            Tracker& tracker);

  private:
    bool AwaitPrompt();
    Result AwaitWordAnswer();
    const char* Name() const;

    ProtocolContext& context_;
    Variant variant_;
    int32_t speedCode_;
    uint32_t connectLimitMs_;
};
