#pragma once
// What the three boot connections share: the load-and-run frame around their own connect,
// upload and run steps, the line set-up, and word and progress forming.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "image/ImageSource.h"
#include "image/Section.h"
#include "image/SfldRecord.h"

namespace boot {

// Sets the boot speed, empties the line and logs "Baud rate - <baud>".
void StartLine(ProtocolContext& context, int32_t speedCode);

// Missing high bytes of a record's last word when its data count is not a multiple of 4: the
// same value the record frame pads an odd payload with.
constexpr uint8_t kShortWordFill = 0x00;

// The 32-bit word from data[offset..offset+3], least significant byte first; bytes at or past
// count are kShortWordFill.
uint32_t WordAt(const uint8_t* data, uint32_t count, uint32_t offset);

// Per mille of a word-by-word upload: a short last word counts 4 bytes, so it is kept at 1000.
uint16_t WordsPerMille(double done, double total);

// The data bytes of a built record: after '[', the word count and the 4-byte address.
const uint8_t* RecordData(const SfldRecord& record);

// Rewinds the section and hands each data record to write until the section ends. A read
// error ("Section read error"), a failed write or an abort ends it with that failure: an
// upload cut short is never a loaded section.
Result UploadRecords(ProtocolContext& context, ImageSource& source, Section& section,
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

}  // namespace boot
