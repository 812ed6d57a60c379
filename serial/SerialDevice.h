#pragma once
// The one place where the operating systems differ: the driver of one serial port. It is
// shaped after the Windows communications API, so the Win32 device is a thin wrapper and the
// POSIX device imitates it. SerialPort holds one SerialDevice for its whole life and has at
// most one port open through it at a time.
//
// Threads: while a port is open, ReadByte runs on the port's reader thread and Write,
// SetBaudRate and TakeLineStatus on its writer thread, at the same time; either thread asks
// IsGone after the driver refused it a transfer. Purge and IsGone may come from any other
// thread but never together with Open or Close. Open, Configure and Close are called only
// while no ReadByte or Write runs.
#include <cstdint>
#include <string>
#include <vector>

#include "serial/PortInfo.h"

// Line error bits as the Windows driver reports them (CE_* of ClearCommError).
namespace LineError {
constexpr uint32_t kRxOver = 0x0001;
constexpr uint32_t kOverrun = 0x0002;
constexpr uint32_t kRxParity = 0x0004;
constexpr uint32_t kFrame = 0x0008;
constexpr uint32_t kBreak = 0x0010;
constexpr uint32_t kTxFull = 0x0100;
constexpr uint32_t kIoError = 0x0400;
constexpr uint32_t kMode = 0x8000;
}  // namespace LineError

class SerialDevice {
  public:
    enum class OpenResult {
        Ok,
        Busy,       // another program holds the port (Windows: ERROR_ACCESS_DENIED)
        Failed,     // any other reason
        NotSerial,  // the path names something that is no serial port (/dev/null, a file)
        Denied,     // this user may not open it (POSIX: the node's permissions)
    };
    enum class IoResult {
        Done,
        Cancelled,  // Cancel was called; the transfer is abandoned
        Failed,     // the driver refused the transfer; it may work again later
    };
    // The frame and queues a port is opened with. The values are the Windows DCB values.
    struct Settings {
        uint32_t baudRate = 19200;
        bool hardwareFlow = false;  // RTS/CTS
        uint8_t parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
        uint8_t stopBits = 0;       // 0 one, 1 one and a half, 2 two
        uint32_t queueSize = 32762;
    };
    struct LineStatus {
        uint32_t errors = 0;  // LineError bits since the last call
        uint32_t inQueue = 0;
        uint32_t outQueue = 0;
    };

    virtual ~SerialDevice() = default;

    // The device path of a port name: on Windows the name itself, with \\.\ before names longer
    // than 4 characters; on POSIX COM<n> is /dev/ttyS<n-1> and COM/abs/path is /abs/path.
    virtual std::string DevicePath(const std::string& portName) = 0;
    // Whether the system knows a communications device of that name (Windows:
    // GetDefaultCommConfig succeeds; POSIX: the device path is a character device).
    virtual bool PortExists(const std::string& portName) = 0;
    // True when the name can never be a serial port: it maps to no device path, or to something
    // that is there and is no device (a file, a folder). Waiting for it would wait for ever.
    virtual bool IsNotSerialPort(const std::string& portName) {
        (void)portName;
        return false;
    }
    // Whether IsGone also tells when the name has come to stand for another device (a device
    // that re-appeared under the same name). Where it cannot, a device-change notification is
    // all that hints at a re-appearance.
    virtual bool TellsReplacedDevice() { return false; }
    // The port name as the user should read it in a message: POSIX shows the path.
    virtual std::string ShownName(const std::string& portName) { return portName; }
    // What the platform can add to a failed open, in words for the user: who holds a busy
    // port, why a denied one is denied and what to do. Empty when it knows nothing more.
    virtual std::string Explain(const std::string& devicePath, OpenResult result) {
        (void)devicePath;
        (void)result;
        return "";
    }
    // Every serial port the system knows now; empty where the platform cannot list them.
    virtual std::vector<PortInfo> ListPorts() { return {}; }

    // Opens the path exclusively for reading and writing; a port already open through this
    // device is never passed. Nothing is left open unless the result is Ok.
    virtual OpenResult Open(const std::string& devicePath) = 0;
    // Applies, in this order and each step whatever the driver answered to the one before:
    // time-outs that let a one-byte read wait until a byte comes; the frame (rate, 8 data bits,
    // binary, no parity checking, parity, stop bits, RTS/CTS or RTS on, DTR off, no XON/XOFF,
    // error character 'e'); the driver's queue sizes.
    virtual void Configure(const Settings& settings) = 0;
    // Changes only the rate of the open port, leaving the rest of the frame as it is.
    virtual void SetBaudRate(uint32_t baudRate) = 0;

    // Waits until one byte has been received, Cancel is called or the driver fails.
    virtual IoResult ReadByte(uint8_t& byte) = 0;
    // Hands the bytes to the driver, waiting while its queue is full, until all are taken,
    // Cancel is called or the driver fails; written tells how many were taken in any case.
    virtual IoResult Write(const uint8_t* bytes, uint32_t count, uint32_t& written) = 0;

    // Reads and clears the line errors and tells the driver's queue counts. A driver that
    // cannot tell reports no errors and empty queues.
    virtual LineStatus TakeLineStatus() = 0;
    // Discards what the driver holds to send, then what it has received.
    virtual void Purge() = 0;
    // True when the device behind the open port has gone (unplugged, hung up) or, where the
    // platform can tell, the port's name now stands for another device.
    virtual bool IsGone() = 0;

    // Ends a waiting ReadByte or Write at once, and makes every later one return Cancelled at
    // once, until Close. Safe from any thread while the port is open.
    virtual void Cancel() = 0;
    virtual void Close() = 0;
};
