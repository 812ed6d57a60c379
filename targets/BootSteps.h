#pragma once
// What the three boot connections share: the load-and-run frame around their own connect,
// upload and run steps, the line set-up, and word and progress forming.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "image/ParsedImage.h"
#include "image/SfldRecord.h"

namespace boot {

// Sets the boot speed, empties the line and logs "Baud rate - <baud>".
void StartLine(ProtocolContext& context, int32_t speedCode);

// Missing high bytes of a record's last word when its data count is not a multiple of 4: the
// same value the record frame pads an odd payload with.
constexpr uint8_t kShortWordFill = 0x00;

// Empties the line after a command whose last `count` bytes were just queued: once the port
// says they have been sent and the time they take on the line has passed as well. "Sent" means
// the driver's queue is empty, not that the UART's FIFO or a pseudo-terminal's reader has taken
// them, and a purge before that drops the command's end, so the code is never started.
Result PurgeAfterSending(ProtocolContext& context, uint32_t count);

// The 32-bit word from data[offset..offset+3], least significant byte first; bytes at or past
// count are kShortWordFill.
uint32_t WordAt(const uint8_t* data, uint32_t count, uint32_t offset);

// Per mille of a word-by-word upload: a short last word counts 4 bytes, so it is kept at 1000.
uint16_t WordsPerMille(double done, double total);

// The data bytes of a built record: after '[', the word count and the 4-byte address.
const uint8_t* RecordData(const SfldRecord& record);

// Hands each data record of the section to write until the section ends. A failed write or an
// abort ends it with that failure: an upload cut short is never a loaded section.
Result UploadRecords(ProtocolContext& context, const ParsedSection& section,
                     const std::function<Result(SfldRecord&)>& write);

// The steps of a load: what differs between the connections.
struct LoadSteps {
    // The connection's name, as its "Target - " and " - connected" lines give it.
    std::string name;
    std::function<Result()> connect;
    std::function<Result()> upload;
    std::function<Result()> run;
    // The started code's answer; none where the connection asks the started code nothing.
    std::function<Result()> answer;
};

// "*Load image*" to the run step, the cancel report, the started code's answer and the status
// "Complete". Success only when every step succeeded and no abort was seen: an aborted load
// fails even if its last step went through, and "Complete" is never shown for a failure. A
// failure names the step that failed.
Result LoadAndRun(ProtocolContext& context, const LoadSteps& steps);

// The request's context while a boot connection is looked for: it reads as aborted once
// limitMs (0: no limit) have passed on the clock, until the loader has answered. The device is
// put into its boot mode by hand, so the wait is the user's, and bounded.
class BootWait : public ProtocolContext {
  public:
    BootWait(ProtocolContext& inner, uint32_t limitMs)
        : inner_(inner), limitMs_(limitMs), startMs_(inner.GetClock().NowMs()) {}

    // The limit passed before the loader answered.
    bool Expired() const { return expired_; }

    void Log(const std::string& line) override { inner_.Log(line); }
    void SetStatus(const std::string& text) override { inner_.SetStatus(text); }
    void SetPhase(uint16_t value) override { inner_.SetPhase(value); }
    void SetProgress(uint16_t perMille) override { inner_.SetProgress(perMille); }
    void ProgrammingStarted() override { inner_.ProgrammingStarted(); }
    void ProgrammingRuns(uint32_t bytes) override { inner_.ProgrammingRuns(bytes); }
    void AddProgrammed(uint32_t bytes) override { inner_.AddProgrammed(bytes); }
    bool IsAborted() override;
    void WatchDevice(bool watch) override { inner_.WatchDevice(watch); }
    bool CancelRequested() override { return inner_.CancelRequested(); }
    void InterruptibleSleep(uint32_t ms) override;
    CommLink& Link() override { return inner_.Link(); }
    Clock& GetClock() override { return inner_.GetClock(); }
    void BootConnected() override { connected_ = true; }

  private:
    ProtocolContext& inner_;
    const uint32_t limitMs_;
    const uint64_t startMs_;
    bool connected_ = false;
    bool expired_ = false;
};

}  // namespace boot
