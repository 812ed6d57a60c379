#pragma once
// The engine's port keeper: the members through which the dialog and the worker ask for a
// port and a speed, the one SerialPort, the link every protocol talks through, and the keeper
// thread that keeps the named port open.
#include <atomic>
#include <cstdint>
#include <string>

#include "engine/Clock.h"
#include "engine/CommLink.h"
#include "engine/Event.h"
#include "engine/Locked.h"
#include "serial/SerialDevice.h"
#include "serial/SerialPort.h"

class PortKeeper {
  public:
    static constexpr uint32_t kKeeperCycleMs = 300;
    static constexpr int32_t kOpenSpeedCode = 6;        // 19200 baud
    static constexpr uint16_t kEarlyOpenSpeedCode = 8;  // 57600 baud
    static constexpr int kExitCode = 5;
    // OpenPort's pause for the keeper to act on a new name.
    static constexpr uint32_t kOpenSettleMs = 100;

    PortKeeper(Clock& clock, LockedValue32& stopRequested, SerialDevice& device);
    PortKeeper(const PortKeeper&) = delete;
    PortKeeper& operator=(const PortKeeper&) = delete;

    Event PortWakeEvent{Event::Mode::Manual};
    LockedValue32 PortKeeperRunning{0};
    LockedText PortNameRequest{""};
    LockedValue16 SpeedRequest{0};
    LockedText PortErrorText{""};
    SerialPort port;
    CommLink* link;

    // Opens the requested port at 19200 baud, 8N1, no flow control unless it is open already;
    // PortErrorText tells the outcome (empty when open). True when the port is open.
    bool OpenPortNow();
    // Publishes a port name (the empty name gives the port up) and wakes the keeper.
    void RequestPortName(const std::string& name);
    // Publishes a speed code for the open port and wakes the keeper.
    void RequestSpeed(uint16_t code);
    // Whether the platform knows a communications device of that name.
    bool PortExists(const std::string& name) { return device_.PortExists(name); }
    // The engine's open-port operation: selects the named port ("OFF" or the empty name gives
    // the port up), lets the keeper open it and tells whether it is ready.
    bool OpenPort(const std::string& name);
    // Whether the keeper has acted on every name asked for so far: until then PortErrorText
    // and the port may still be those of the name before.
    bool NameTaken() const { return namesTaken_.load() == namesAsked_.load(); }
    // The keeper thread: while it runs PortKeeperRunning is 1; it ends when the stop flag is
    // set, with the port closed, and returns kExitCode.
    int ThreadMain();

  private:
    bool StopRequested() { return stopRequested_.Get() != 0; }

    Clock& clock_;
    LockedValue32& stopRequested_;
    SerialDevice& device_;
    std::atomic<uint32_t> namesAsked_{0};
    std::atomic<uint32_t> namesTaken_{0};
};
