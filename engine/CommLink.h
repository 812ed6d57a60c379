#pragma once
// The link every protocol talks through. Reads never wait, writes are queued. The base class
// does nothing useful; the serial port and the simulated device's link implement it.
#include <cstdint>
#include <string>

// Speed codes: the link's speeds are chosen by code, 0 to 9.
namespace speedcode {
constexpr uint32_t kBaud[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int32_t kCount = 10;
constexpr int32_t k19200 = 6;
constexpr int32_t k57600 = 8;
}  // namespace speedcode

class CommLink {
  public:
    virtual ~CommLink() = default;

    virtual void Close() {}
    virtual uint32_t IsOpen() { return 0; }
    virtual bool ReadByte(uint8_t& byte) {
        (void)byte;
        return false;
    }
    virtual bool WriteByte(int byte) {
        (void)byte;
        return false;
    }
    virtual bool WriteText(const char* text) {
        (void)text;
        return false;
    }
    virtual bool Write(const uint8_t* bytes, uint32_t count) {
        (void)bytes;
        (void)count;
        return false;
    }
    virtual uint32_t TransmitDone() { return 1; }
    virtual void SetSpeed(int32_t code) { (void)code; }
    virtual int32_t GetSpeed() { return 0; }
    virtual void Purge() {}
    virtual bool ReadHandshakeByte(uint8_t& byte) {
        (void)byte;
        return false;
    }
    virtual uint32_t TransmitTime(uint32_t count) { return count * 1000; }
    // Closes the port when its device has left (or, where the platform can tell, the port's
    // name now stands for another device).
    virtual void CheckDevice() {}
    // True once the device behind the port has been seen to leave, until the port is opened
    // again: a transfer failed and the driver says the device is gone.
    virtual bool DeviceLeft() { return false; }
    // What the device is called in messages: the path the port was last opened at.
    virtual std::string DeviceName() { return std::string(); }

    // Blocks until a byte is waiting for ReadByte or ms have passed; true when one is waiting.
    // Lets the waits that must see an answer at once block instead of spinning.
    virtual bool WaitForByte(uint32_t ms) {
        (void)ms;
        return false;
    }

    uint16_t timeoutFactor = 1;
};
