#include <gtest/gtest.h>

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

TEST(Win32SerialDeviceTest, ClosedDeviceIsHarmless) {
    Win32SerialDevice device;
    device.Cancel();
    device.Close();
    device.Close();
    EXPECT_EQ(device.Open("\\\\.\\OSTREVAN-NO-SUCH-PORT"), SerialDevice::OpenResult::Failed);
}

}  // namespace
