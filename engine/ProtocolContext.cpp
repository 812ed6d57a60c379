#include "engine/ProtocolContext.h"

void SleepInSlices(Clock& clock, uint32_t ms, const std::function<bool()>& stopped) {
    // The stop flag is looked at only between whole slices: a pause of 100 ms or less always
    // runs to its end.
    while (ms > 100) {
        clock.SleepMs(100);
        ms -= 100;
        if (stopped()) {
            return;
        }
    }
    clock.SleepMs(ms);
}

std::string DeviceLeftText(CommLink& link) {
    const std::string name = link.DeviceName();
    return ErrorText(name.empty() ? "the device left" : "the device left " + name);
}
