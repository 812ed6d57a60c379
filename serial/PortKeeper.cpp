#include "serial/PortKeeper.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsOff(const std::string& name) {
    if (name.size() != 3) {
        return false;
    }
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper == "OFF";
}

}  // namespace

PortKeeper::PortKeeper(Clock& clock, LockedValue32& stopRequested, SerialDevice& device)
    : port(device), link(&port), clock_(clock), stopRequested_(stopRequested), device_(device) {}

bool PortKeeper::OpenPortNow() {
    // Written only when it differs (never, in practice): other threads read link meanwhile.
    if (link != &port) {
        link = &port;
    }
    if (port.IsOpen() != 0) {
        PortErrorText.Set("");
        return true;
    }
    const std::string name = PortNameRequest.Get();
    port.SetPortName(name);
    port.StoreSpeed(kOpenSpeedCode);
    port.SetHardwareFlow(false);
    port.SetParityCode(2);
    port.SetStopBitsCode(0);
    port.Open();
    if (port.IsOpen() != 0) {
        PortErrorText.Set("");
        return true;
    }
    std::string error;
    if (port.TakeError(error)) {
        PortErrorText.Set(error);
        return false;
    }
    // The name just tried, not a second Get: that would swallow the mark of a name asked
    // for meanwhile.
    if (name.empty()) {
        PortErrorText.Set("No Serial Port Selected.");
    }
    return false;
}

void PortKeeper::RequestPortName(const std::string& name) {
    PortNameRequest.Set(name);
    namesAsked_.fetch_add(1);
    PortWakeEvent.Pulse();
}

void PortKeeper::RequestSpeed(uint16_t code) {
    SpeedRequest.Set(code);
    PortWakeEvent.Pulse();
}

bool PortKeeper::OpenPort(const std::string& name) {
    // Giving the port up: no platform knows a device by these names.
    if (name.empty() || IsOff(name)) {
        RequestPortName("");
        return false;
    }
    if (!PortExists(name)) {
        return false;
    }
    RequestPortName(name);
    link->CheckDevice();
    clock_.SleepMs(kOpenSettleMs);
    if (!PortErrorText.Get().empty()) {
        return false;
    }
    if (PortKeeperRunning.Get() == 0) {
        OpenPortNow();
        RequestSpeed(kEarlyOpenSpeedCode);
    }
    return PortErrorText.Get().empty();
}

int PortKeeper::ThreadMain() {
    PortKeeperRunning.Set(1);
    link->Close();
    while (!StopRequested()) {
        // Counted before the name is read: a name asked for after this is left to the next
        // cycle, and is not reported as taken before then.
        const uint32_t asked = namesAsked_.load();
        if (PortNameRequest.IsChanged()) {
            link->Close();
        }
        if (link->IsOpen() == 0) {
            OpenPortNow();
        } else if (SpeedRequest.IsChanged()) {
            link->SetSpeed(SpeedRequest.Get());
        }
        namesTaken_.store(asked);
        PortWakeEvent.Wait(kKeeperCycleMs);
    }
    link->Close();
    PortKeeperRunning.Set(0);
    return kExitCode;
}
