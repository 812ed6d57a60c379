#pragma once
// The simulated Ostrevan device: a pure state machine. Bytes from the host go in with the time
// they arrive and the line speed they were sent at; timed events (erasing, programming,
// re-appearing) run when the model is advanced; answers come out with the time they leave.
//
// The model is strict: whatever a real device would not accept, or a host should not do, is
// written to the violation log, which a sound host leaves empty.
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/DeviceConfig.h"
#include "sim/FrameReceiver.h"
#include "sim/NorFlash.h"

struct DeviceCounters {
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    uint32_t replies = 0;  // answers the device produced, dropped ones included
    uint32_t repliesDropped = 0;
    uint32_t connects = 0;
    uint32_t recordsReceived = 0;  // frames that came to an end, good or bad
    uint32_t recordErrors = 0;     // frames answered with an error code
    uint32_t recordsProgrammed = 0;
    uint32_t recordsLoaded = 0;  // into RAM by the primary flash loader
    uint32_t eraseRanges = 0;
    uint32_t sectorsErased = 0;
    uint32_t unerasedPrograms = 0;  // records written over bytes that were not erased
    uint32_t unerasedBytes = 0;
    uint32_t programFails = 0;
    uint32_t wordsStored = 0;  // by the monitors
    uint32_t reappearances = 0;
    uint32_t runs = 0;
};

struct OutByte {
    uint8_t value;
    uint64_t atMs;      // when the device hands it to the line
    int32_t speedCode;  // the speed the device sends it at
};

class DeviceModel {
  public:
    explicit DeviceModel(DeviceConfig config = DeviceConfig());
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    // A host byte arriving at nowMs, sent at speedCode (0..9 = 300..115200 baud).
    void Receive(uint8_t byte, int32_t speedCode, uint64_t nowMs);
    // Runs the timed events that are due by nowMs.
    void Advance(uint64_t nowMs);
    // The time of the next timed event; false when nothing is pending.
    bool NextEventMs(uint64_t& atMs) const;
    // The answers produced so far, in order, removed from the model.
    std::vector<OutByte> TakeOutput();

    Personality Mode() const { return mode_; }
    int32_t SpeedCode() const { return speed_; }
    bool Unplugged() const { return unplugged_; }
    DeviceConfig& Config() { return config_; }

    const NorFlash& Flash() const { return flash_; }
    std::vector<uint8_t> FlashBytes(uint32_t address, uint32_t count) const {
        return flash_.Read(address, count);
    }
    // RAM written by the primary flash loader and the monitors; unwritten bytes read 0.
    std::vector<uint8_t> RamBytes(uint32_t address, uint32_t count) const;
    bool RamWritten(uint32_t address) const { return ram_.count(address) != 0; }
    // Every memory byte loaded, by address.
    const std::map<uint32_t, uint8_t>& Ram() const { return ram_; }

    const std::vector<std::string>& Violations() const { return violations_; }
    // What happened, one line an event: erases, runs, re-appearances, dropped replies.
    const std::vector<std::string>& Notes() const { return notes_; }
    const DeviceCounters& Counters() const { return counters_; }

    // The byte a receiver at another speed than the sender's makes of it.
    static uint8_t Garble(uint8_t byte) { return static_cast<uint8_t>(byte ^ 0xA5); }
    static uint32_t BaudOfCode(int32_t code);
    static int32_t CodeOfBaud(uint32_t baud);  // -1 when it is none of the ten

  private:
    enum class LoaderState { Boot, Ready, SectionStarted, Erasing, Records, Busy };
    enum class RecordKind { BootEnd, Erase, Data, Load };
    enum class RecordPhase { Lead, AfterLead, InFrame, Discard };
    enum class PflState { Handshake, Connected, Ready, RunCommand };
    enum class RomState { Asleep, Prompt, Test };

    void Violation(const std::string& text);
    void Note(const std::string& text);
    // The device leaves: it answers nothing from now on.
    void Unplug(const std::string& note);
    void Reply(uint64_t atMs, const std::string& bytes);
    void Reply(uint64_t atMs, uint8_t byte) {
        Reply(atMs, std::string(1, static_cast<char>(byte)));
    }
    void At(uint64_t atMs, std::function<void(uint64_t)> event);
    void Become(Personality mode, int32_t speed);
    void Run(uint32_t address, uint64_t nowMs);
    uint8_t Noise(uint8_t byte);
    static int32_t SpeedOf(Personality mode, const DeviceConfig& config);

    // Greeting
    void GreetingByte(uint8_t byte, uint64_t nowMs);

    // Flash loader
    void LoaderByte(uint8_t byte, uint64_t nowMs);
    void LoaderCommand(uint8_t byte, uint64_t nowMs);
    void ExpectRecord(RecordKind kind);
    void RecordByte(uint8_t byte, uint64_t nowMs);
    // Whether the loader that takes records now answers a lead byte with REC_WAIT_CODE.
    bool RecWaitOn() const {
        return mode_ == Personality::PrimaryFlashLoader ? config_.pflRecWait : config_.recWait;
    }
    void RecordEnded(FrameReceiver::Result result, uint64_t nowMs);
    void RecordFailed(uint8_t code, uint64_t nowMs);
    bool InjectedError(uint64_t nowMs);
    void BootEndRecord(uint64_t nowMs);
    void EraseRecord(uint64_t nowMs);
    bool CarriesData(uint64_t nowMs);
    void DataRecord(uint64_t nowMs);
    void ProgramRecord(uint32_t address, std::vector<uint8_t> data, uint64_t nowMs);
    void ProgramFailed(uint64_t nowMs);
    void LoadRecord(uint64_t nowMs);

    // Primary flash loader
    void PflByte(uint8_t byte, uint64_t nowMs);
    bool PflMessageByte(uint8_t byte);

    // ROM monitor
    void RomByte(uint8_t byte, uint64_t nowMs);
    void RomLine(uint64_t nowMs);

    // Text monitor
    void MonitorByte(uint8_t byte, uint64_t nowMs);
    void MonitorCommand(uint64_t nowMs);

    void StoreWord(uint32_t address, uint32_t value);

    DeviceConfig config_;
    NorFlash flash_;
    Personality mode_;
    int32_t speed_;
    bool unplugged_ = false;
    bool rebooting_ = false;
    std::mt19937 noise_;
    std::multimap<uint64_t, std::function<void(uint64_t)>> events_;
    std::vector<OutByte> output_;
    std::vector<std::string> violations_;
    std::vector<std::string> notes_;
    DeviceCounters counters_;
    std::map<uint32_t, uint8_t> ram_;

    std::string line_;  // greeting and monitor text collected so far

    LoaderState loader_ = LoaderState::Boot;
    RecordKind recordKind_ = RecordKind::BootEnd;
    RecordPhase recordPhase_ = RecordPhase::Lead;
    uint64_t lastRecordByteMs_ = 0;
    FrameReceiver frame_;
    uint32_t erasedFrom_ = 0;
    uint32_t erasedTo_ = 0;

    PflState pfl_ = PflState::Handshake;
    size_t pflMessage_ = 0;  // bytes of variant B's message matched so far
    bool pflMessageSeen_ = false;
    bool pflVersionSent_ = false;

    RomState rom_ = RomState::Asleep;
    bool monitorOn_ = false;
};
