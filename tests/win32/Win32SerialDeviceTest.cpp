#include <gtest/gtest.h>

#include "platform/win32/Win32PortLister.h"
#include "platform/win32/Win32SerialDevice.h"

namespace {

TEST(Win32DevicePathTest, LongNamesGoThroughTheDeviceNamespace) {
    Win32SerialDevice device;
    EXPECT_EQ(device.DevicePath("COM9"), "COM9");
    EXPECT_EQ(device.DevicePath("COM1"), "COM1");
    EXPECT_EQ(device.DevicePath("COM10"), "\\\\.\\COM10");
    EXPECT_EQ(device.DevicePath("COMCOM3"), "\\\\.\\COMCOM3");
    EXPECT_EQ(device.DevicePath(""), "");
}

// A port named by its USB serial number is looked up when it is used; one that is not there is
// waited for as a missing port is.
TEST(Win32DevicePathTest, UsbSerialNumbersNameThePortTheyAreFoundOn) {
    struct OnePort : PortLister {
        std::vector<PortInfo> List() override {
            PortInfo port;
            port.name = port.node = "COM77";
            port.serial = "A9XYZ01";
            return {port};
        }
    } lister;
    Win32SerialDevice device(&lister);
    EXPECT_EQ(device.DevicePath("COMusb:A9XYZ01"), "usb:A9XYZ01");
    EXPECT_EQ(device.ShownName("COMusb:A9XYZ01"), "usb:A9XYZ01");
    EXPECT_EQ(device.PortExists("COMusb:B0"), false);
    // found, on a name this system does not have: it opens as COM77 would
    EXPECT_EQ(device.PortExists("COMusb:A9XYZ01"), device.PortExists("COM77"));
    EXPECT_EQ(device.Open("usb:B0"), SerialDevice::OpenResult::Failed);
    EXPECT_EQ(device.ListPorts().size(), 1u);
}

TEST(Win32SerialDeviceTest, ClosedDeviceIsHarmless) {
    Win32SerialDevice device;
    device.Cancel();
    device.Close();
    device.Close();
    EXPECT_EQ(device.Open("\\\\.\\OSTREVAN-NO-SUCH-PORT"), SerialDevice::OpenResult::Failed);
}

// The USB parts of a port from its device instance id, as --list shows them.
TEST(Win32PortListerTest, InstanceIdsGiveUsbIdsAndSerialNumbers) {
    const std::pair<std::string, std::string> cases[] = {
        {"USB\\VID_0403&PID_6001\\A9XYZ01",
         "COM3: USB 0403:6001, serial A9XYZ01 (/port usb:A9XYZ01)"},
        // no serial number of its own: Windows makes up an instance with '&' in it
        {"USB\\VID_2341&PID_0043\\6&2B1C3A5&0&2", "COM3: USB 2341:0043"},
        {"FTDIBUS\\VID_0403+PID_6015+DN01ABCDA\\0000", "COM3: USB 0403:6015"},
        {"ACPI\\PNP0501\\1", "COM3"},
    };
    for (const auto& [id, line] : cases) {
        PortInfo port;
        port.name = port.node = "COM3";
        ReadInstanceId(id, port);
        EXPECT_EQ(FormatPortLine(port), line) << id;
    }
    // what this system lists, each port by its name at least
    for (const PortInfo& port : Win32PortLister().List()) {
        EXPECT_EQ(port.node.rfind("COM", 0), 0u) << port.node;
    }
}

}  // namespace
