#pragma once
// What the system tells of one serial port, for --list, for a port named by its USB serial
// number (usb:SERIAL), and for saying which ports exist while a named one is missing. Each
// platform fills it through a PortLister: libudev and sysfs on Linux, SetupAPI on Windows.
#include <string>
#include <vector>

struct PortInfo {
    std::string name;  // what to give /port: the stable by-id link where there is one
    std::string node;  // the device node (/dev/ttyUSB0) or the COM name (COM3)
    std::string byId;  // /dev/serial/by-id/... pointing at the node, or empty
    std::string driver;
    // USB only (empty otherwise): ids as four hex digits, and the device's own strings.
    std::string vendorId;
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serial;
    bool busy = false;  // another program has it open
};

class PortLister {
  public:
    virtual ~PortLister() = default;
    // Every serial port the system knows now, in a stable order.
    virtual std::vector<PortInfo> List() = 0;
    // The same without the busy probe (busy stays false): it never opens a port, so it may be
    // asked while ports are in use, from any thread.
    virtual std::vector<PortInfo> ListQuietly() { return List(); }
    // The node of the port whose USB serial number is serial, or empty. Asked often (each
    // look at a port named so): a lister makes it cheaper than List where it can.
    virtual std::string NodeOfUsbSerial(const std::string& serial);
};

// The port named as /port takes it after "usb:", or empty when the name is no such name.
// The name is the one the command line made (COM followed by the token).
std::string UsbSerialOf(const std::string& portName);
// The port whose USB serial number is serial, or nullptr.
const PortInfo* FindUsbSerial(const std::vector<PortInfo>& ports, const std::string& serial);
// The port a device path stands for: usb:SERIAL by its serial number, else the port whose
// name, node or by-id link is the path (a COM name in any case, with or without \\.\ before it);
// or nullptr.
const PortInfo* FindPortOf(const std::vector<PortInfo>& ports, const std::string& devicePath);

// One line: the name, the node it stands for, then what is known of it.
std::string FormatPortLine(const PortInfo& port);
// Every port a line, or "no serial ports found"; each line ends in a line feed.
std::string FormatPortList(const std::vector<PortInfo>& ports);
// The names alone, in one line, for a user waiting for a port that is not there.
std::string PortNamesLine(const std::vector<PortInfo>& ports);
