#include "flashloader/LinkWait.h"

#include <algorithm>

namespace linkwait {

bool Block(ProtocolContext& context, uint32_t ms) {
    Clock& clock = context.GetClock();
    const uint64_t start = clock.NowMs();
    if (context.Link().WaitForByte(ms)) {
        return true;
    }
    // A link that cannot block (closed port, gone device) returns at once; pace it so the
    // wait still sleeps instead of spinning.
    const uint64_t waited = clock.NowMs() - start;
    if (waited < ms) {
        clock.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(ms - waited, 10)));
    }
    return false;
}

Got NextByte(ProtocolContext& context, uint64_t startMs, uint32_t limitMs, uint8_t& byte) {
    CommLink& link = context.Link();
    Clock& clock = context.GetClock();
    for (;;) {
        if (context.IsAborted()) {
            return Got::Aborted;
        }
        const uint64_t elapsed = clock.NowMs() - startMs;
        if (elapsed >= limitMs) {
            return Got::TimedOut;
        }
        if (link.ReadByte(byte)) {
            return Got::Byte;
        }
        Block(context, static_cast<uint32_t>(std::min<uint64_t>(kSliceMs, limitMs - elapsed)));
    }
}

bool WaitTransmitDone(ProtocolContext& context, bool answerEnds) {
    CommLink& link = context.Link();
    while (link.TransmitDone() == 0) {
        if (context.IsAborted()) {
            return false;
        }
        // The link offers no wait for its transmitter: block a millisecond at a time on the
        // arrival of a byte instead, which keeps the poll cheap while a frame drains.
        if (answerEnds) {
            if (Block(context, kTransmitPollMs)) {
                return true;
            }
        } else {
            context.GetClock().SleepMs(kTransmitPollMs);
        }
    }
    return true;
}

}  // namespace linkwait
