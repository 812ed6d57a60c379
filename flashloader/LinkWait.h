#pragma once
// Reading the link against a deadline. The loaders must see an answer the moment it arrives,
// yet a waiting worker must not burn a core: it blocks in the link's WaitForByte, in short
// slices so that a cancel is noticed while the line stays quiet.
#include <cstdint>
#include <string>

#include "engine/FormatText.h"
#include "engine/ProtocolContext.h"

namespace linkwait {

enum class Got { Byte, TimedOut, Aborted };

// Longest single block on the link, so a cancel is seen within this time.
constexpr uint32_t kSliceMs = 100;
// Between two looks at the transmitter.
constexpr uint32_t kTransmitPollMs = 1;

// Blocks until a byte is waiting or ms have passed; true when one is waiting.
bool Block(ProtocolContext& context, uint32_t ms);

// The next byte, unless limitMs pass since startMs first or the request is aborted.
// A deadline already passed wins over a byte that is waiting.
Got NextByte(ProtocolContext& context, uint64_t startMs, uint32_t limitMs, uint8_t& byte);

// Waits until everything queued has left the driver; false when the request is aborted first.
// With answerEnds, an answer that is already waiting ends the wait too: the other side has
// had all it needed, whatever the driver still reports.
bool WaitTransmitDone(ProtocolContext& context, bool answerEnds = false);

}  // namespace linkwait
