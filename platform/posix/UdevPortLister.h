#pragma once
// The serial ports of a Linux system: the tty devices that libudev finds with a device behind
// them, described from sysfs (driver, USB ids and strings), with their stable names from
// /dev/serial/by-id and whether another program has them open.
#include <map>
#include <string>
#include <vector>

#include "serial/PortInfo.h"

// One tty device as udev and sysfs describe it: what PortFromTty reads.
struct TtyRecord {
    std::string node;        // its device node, /dev/ttyUSB0
    std::string driver;      // the driver of the device behind it (ftdi_sio, cdc_acm, serial)
    std::string uartType;    // sysfs "type" of a UART port: "0" when no UART answers there
    bool hasParent = false;  // a device stands behind it (not a virtual console or pty)
    // Attributes of the USB device behind it (idVendor, idProduct, manufacturer, product,
    // serial); empty for a port that is not on USB.
    std::map<std::string, std::string> usb;
};

// Whether the record is a serial port a user could mean: hardware behind it, and for a UART
// port one that answered when the kernel probed it.
bool IsSerialPort(const TtyRecord& tty);
// The port the record describes; byIdOf maps a node to its /dev/serial/by-id link.
PortInfo PortFromTty(const TtyRecord& tty, const std::map<std::string, std::string>& byIdOf);
// The links in folder, by the node each resolves to.
std::map<std::string, std::string> ByIdLinks(const std::string& folder);
// The node a path stands for after every link is followed, or empty when it leads nowhere.
std::string RealNode(const std::string& path);

class UdevPortLister : public PortLister {
  public:
    explicit UdevPortLister(std::string byIdFolder = "/dev/serial/by-id")
        : byIdFolder_(std::move(byIdFolder)) {}
    std::vector<PortInfo> List() override { return Scan(true); }
    std::vector<PortInfo> ListQuietly() override { return Scan(false); }
    std::string NodeOfUsbSerial(const std::string& serial) override;

  private:
    // busy: whether to look through /proc for the ports other programs hold.
    std::vector<PortInfo> Scan(bool busy);

    std::string byIdFolder_;
};
