#pragma once
// The serial ports of a Windows system: the Ports class through SetupAPI (name, driver
// service, manufacturer, description, and for USB the ids and serial number from the instance
// id), and every other name the system maps in HARDWARE\DEVICEMAP\SERIALCOMM, listed by name.
#include <string>
#include <vector>

#include "serial/PortInfo.h"

// Fills the USB parts of port from a device instance id such as USB\VID_0403&PID_6001\A9XYZ:
// the ids always, the serial number where the last part is one (Windows makes up an id with
// '&' in it for a device that has none).
void ReadInstanceId(const std::string& instanceId, PortInfo& port);

class Win32PortLister : public PortLister {
  public:
    std::vector<PortInfo> List() override { return Scan(true); }
    std::vector<PortInfo> ListQuietly() override { return Scan(false); }
    // Without the busy probe: asked on every look at a port named usb:SERIAL, it must not open
    // other programs' ports.
    std::string NodeOfUsbSerial(const std::string& serial) override;

  private:
    // busy: whether to try each port's open to tell whether another program has it.
    std::vector<PortInfo> Scan(bool busy);
};
