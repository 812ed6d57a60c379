#pragma once
// The serial driver on POSIX: termios, an exclusive open (TIOCEXCL plus flock, since root
// passes TIOCEXCL), a stop pipe that every wait polls beside the port, line errors from the
// driver's interrupt counters where it keeps them, and the driver's low-latency mode while the
// port is open. A port named by its USB serial number (usb:SERIAL) is looked up through a
// PortLister each time it is opened or looked at, so it follows its device to a new node.
#include <cstdint>
#include <string>

#include "serial/SerialDevice.h"

class PosixSerialDevice : public SerialDevice {
  public:
    // lister finds ports named usb:SERIAL and lists the ports; without one neither is known.
    explicit PosixSerialDevice(PortLister* lister = nullptr) : lister_(lister) {}
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    // COM<n> (any case, n from 1) is /dev/ttyS<n-1>; COM followed by a path (one holding a
    // '/') is that path, a relative one taken from the working folder. Any other name has no
    // device: the empty path. COMusb:SERIAL stays usb:SERIAL, resolved to a node when used.
    std::string DevicePath(const std::string& portName) override;
    bool PortExists(const std::string& portName) override;
    bool IsNotSerialPort(const std::string& portName) override;
    bool TellsReplacedDevice() override { return true; }
    std::string ShownName(const std::string& portName) override;
    std::string Explain(const std::string& devicePath, OpenResult result) override;
    std::vector<PortInfo> ListPorts() override;
    OpenResult Open(const std::string& devicePath) override;
    void Configure(const Settings& settings) override;
    void SetBaudRate(uint32_t baudRate) override;
    IoResult ReadByte(uint8_t& byte) override;
    IoResult Write(const uint8_t* bytes, uint32_t count, uint32_t& written) override;
    LineStatus TakeLineStatus() override;
    void Purge() override;
    bool IsGone() override;
    void Cancel() override;
    void Close() override;

  private:
    // Waits until the port shows one of events or the stop pipe is readable; the port's
    // revents, or -1 when cancelled.
    int WaitPort(short events);
    bool ReadCounters(uint32_t counters[5]);

    // The node the open port was opened at: when the path later resolves to another node, the
    // device has been replaced under its name (a link moved, a node made anew).
    struct Node {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        unsigned long long rdev = 0;
    };
    bool NodeOf(const std::string& path, Node& node);
    // The node a device path stands for now: itself, or the node of a usb:SERIAL name (empty
    // while no such device is there).
    std::string Resolve(const std::string& devicePath);
    void RestoreLatency();

    PortLister* lister_;
    int fd_ = -1;
    // The driver's flags before low latency was asked for, to put back on close.
    int savedSerialFlags_ = 0;
    bool latencyChanged_ = false;
    std::string path_;
    Node node_;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    // Interrupt counters at the last look: break, frame, overrun, parity, buffer overrun.
    uint32_t counters_[5] = {};
    bool haveCounters_ = false;
};
