#include "flashloader/LinkWait.h"

#include <algorithm>
#include <cstdio>

namespace linkwait {

Got NextByte(UploadWorker& worker, uint64_t startMs, uint32_t limitMs, uint8_t& byte) {
    CommLink& link = worker.Link();
    Clock& clock = worker.GetClock();
    for (;;) {
        if (worker.IsAborted()) {
            return Got::Aborted;
        }
        const uint64_t now = clock.NowMs();
        const uint64_t elapsed = now - startMs;
        if (elapsed >= limitMs) {
            return Got::TimedOut;
        }
        if (link.ReadByte(byte)) {
            return Got::Byte;
        }
        const auto slice = static_cast<uint32_t>(std::min<uint64_t>(kSliceMs, limitMs - elapsed));
        if (!link.WaitForByte(slice)) {
            // A link that cannot block (closed port, gone device) returns at once; pace it so
            // the wait still sleeps instead of spinning.
            const uint64_t waited = clock.NowMs() - now;
            if (waited < slice) {
                clock.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(slice - waited, 10)));
            }
        }
    }
}

bool WaitTransmitDone(UploadWorker& worker) {
    CommLink& link = worker.Link();
    while (link.TransmitDone() == 0) {
        if (worker.IsAborted()) {
            return false;
        }
        // The link offers no wait for its transmitter; a millisecond's sleep keeps the poll
        // cheap while a frame drains.
        worker.GetClock().SleepMs(1);
    }
    return true;
}

}  // namespace linkwait

std::string FormatText(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}
