#pragma once
// What the simulated device is and how it misbehaves. Every field has the value of a sound
// device; tests change only what they exercise.
#include <cstdint>
#include <string>

#include "sim/NorFlash.h"

// The byte codes of the flash loader, as the device sends and expects them. Kept in a scope
// of their own so that they never meet the host's names for the same codes.
struct SimCodes {
    static constexpr uint8_t OK_CODE = 0x55;
    static constexpr uint8_t SYNC_CODE = 0xAA;
    static constexpr uint8_t VERSION_CODE = 0x90;
    static constexpr uint8_t FLASH_ID_CODE = 0x91;
    static constexpr uint8_t ERASE_CODE = 0x6A;
    static constexpr uint8_t BOOT_RELOAD = 0x07;
    static constexpr uint8_t REC_WAIT_CODE = 0x77;
    static constexpr uint8_t BAD_CSUM = 0x81;
    static constexpr uint8_t BAD_LENGTH = 0x82;
    static constexpr uint8_t BAD_COMMAND = 0x83;
    static constexpr uint8_t PROGRAM_FAIL = 0x84;
    static constexpr uint8_t RECORD_TIMEOUT = 0x85;
    static constexpr uint8_t NO_REC_END = 0x88;
    static constexpr uint8_t PARAM_CODE = 0x8E;
    static constexpr uint8_t SECTOR_ERASED = 0x8F;
    static constexpr uint8_t FLASH_FULL_CODE = 0x92;
};

enum class Personality {
    Greeting,            // the application: answers the two tokens, then re-appears
    FlashLoader,         // the secondary flash loader with its NOR flash
    PrimaryFlashLoader,  // the Kalmer PFL in boot flash
    RomMonitor,          // the Hestan mask-ROM monitor
    TextMonitor,         // the Orvane monitor
    Away,                // runs code of its own, or is rebooting: says nothing
};

enum class PflVariant { A, B, C };
enum class FlashIdAnswer { Full, Short, Silent };
enum class BootReloadAnswer { Accept, Refuse, Silent };

struct FaultSwitches {
    uint32_t dropReply = 0;    // the Nth reply (from 1) never leaves the device; 0 = off
    uint32_t errorRecord = 0;  // the Nth record frame received (from 1) is answered ...
    uint8_t errorCode = SimCodes::BAD_CSUM;  // ... with this code instead
    uint32_t errorCount = 1;                 // ... and so are the records after it, this many
    // A record the flash did not take is reported with PROGRAM_FAIL and then, as for every
    // programmed record, OK_CODE.
    bool programFailThenOk = false;
    // A data record the flash cannot take is reported in the record's answer, before the
    // record is taken, rather than once it is programmed: PROGRAM_FAIL alone, as with the
    // other error codes, or with programFailThenOk followed by the record's usual answers.
    // The end record, which has no programming step, always reports it in its answer.
    bool programFailEarly = false;
    // A flash that has failed already: a section's start (OK_CODE) is answered with
    // PROGRAM_FAIL and then OK_CODE.
    bool programFailAtStart = false;
    uint32_t eraseMsPerSector = 20;
    bool noParameter = false;  // no PARAM_CODE message before the sectors are erased
    double noiseRate = 0;      // chance per byte, both ways, that it arrives as another byte
    uint32_t noiseSeed = 1;
    uint64_t unplugAfter = 0;    // bytes from the host, then the device is gone; 0 = never
    uint32_t unplugInErase = 0;  // sectors erased, then the device is gone; 0 = never
    bool silent = false;         // the device takes everything and answers nothing
};

struct DeviceConfig {
    Personality start = Personality::FlashLoader;
    FlashChip chip;
    FaultSwitches faults;
    // A byte at another line speed than the device's is lost and logged as a violation.
    bool checkSpeed = true;

    // Greeting
    std::string greetingReply = "SA-77 OSTREVAN KV3 4.10";
    std::string changeReply = "KV2-8 FLASH LOADER";
    uint32_t reappearMs = 100;  // from the change reply to the flash loader's start

    // Flash loader
    std::string sfldVersion = "$SFLD V2.05";
    FlashIdAnswer flashId = FlashIdAnswer::Full;
    uint8_t shortFlashId = 4;  // the single byte of a short answer
    BootReloadAnswer bootReload = BootReloadAnswer::Accept;
    bool recWait = true;  // REC_WAIT_CODE after every record's lead byte
    int32_t sfldSpeed = 6;
    uint32_t programMs = 2;          // from "record taken" to "record programmed"
    uint32_t recordTimeoutMs = 500;  // silence inside a record that ends it with RECORD_TIMEOUT
    uint32_t loaderAddress = 0x00201000;  // starting code here starts the flash loader

    // Primary flash loader
    PflVariant pflVariant = PflVariant::C;
    std::string pflVersion = "$KALMER PFL 1.3";
    // REC_WAIT_CODE after every record's lead byte; the primary loader's own habit, apart
    // from the flash loader's.
    bool pflRecWait = false;

    // Text monitor
    std::string monitorId = "OM21";
    // From the identification query's '#' to the first byte of the reply.
    uint32_t monitorReplyMs = 0;
};
