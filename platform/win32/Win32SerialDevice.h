#pragma once
// A COM port through the Windows communications API, opened for overlapped I/O. The reader
// thread keeps at most one one-byte read pending; a read or write abandoned by Cancel stays
// owned by this object until it completes, so Close can wait for it.
#include <windows.h>

#include <cstdint>
#include <string>

#include "serial/SerialDevice.h"

class Win32SerialDevice : public SerialDevice {
  public:
    // Bounded wait for an abandoned transfer to come back once the handle is closed.
    static constexpr DWORD kReleaseWaitMs = 1000;

    // lister finds ports named usb:SERIAL and lists the ports; without one neither is known.
    explicit Win32SerialDevice(PortLister* lister = nullptr) : lister_(lister) {}
    ~Win32SerialDevice() override;
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    // COMusb:SERIAL stays usb:SERIAL, looked up when the port is opened.
    std::string DevicePath(const std::string& portName) override;
    bool PortExists(const std::string& portName) override;
    std::string ShownName(const std::string& portName) override;
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
    bool IsCancelled() const;
    // Waits for the overlapped transfer whose event is given; false when Cancel came first.
    bool WaitTransfer(HANDLE transferEvent);

    // The COM name a usb:SERIAL name stands for now, or empty.
    std::string NodeOf(const std::string& usbSerial);

    PortLister* lister_;
    // The port's name as the system knows it (COM10, not \\.\COM10), for IsGone, and the
    // serial number it was found by, if so.
    std::string portName_;
    std::string usbSerial_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE cancelEvent_ = nullptr;
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    OVERLAPPED readOv_{};
    OVERLAPPED writeOv_{};
    uint8_t readBuffer_ = 0;
    bool readPending_ = false;
    bool writePending_ = false;
};
