#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "Eventually.h"
#include "FakeSerialDevice.h"
#include "engine/Clock.h"
#include "serial/PortKeeper.h"

namespace {

using OpenResult = SerialDevice::OpenResult;

class PortKeeperTest : public ::testing::Test {
  protected:
    VirtualClock clock;
    LockedValue32 stopRequested{0};
    FakeSerialDevice device;
    PortKeeper keeper{clock, stopRequested, device};
};

}  // namespace

TEST_F(PortKeeperTest, OpenPortNowPublishesTheOutcome) {
    const struct {
        OpenResult result;
        const char* name;
        const char* text;
        bool open;
    } cases[] = {
        {OpenResult::Busy, "COM2", "COM2 is Locked by Another Device!", false},
        {OpenResult::Failed, "COM2", "COM2 Serial Port Open Error!", false},
        {OpenResult::Ok, "", "No Serial Port Selected.", false},
        {OpenResult::Ok, "COM2", "", true},
    };
    for (const auto& c : cases) {
        device.QueueOpenResult(c.result);
        keeper.PortErrorText.Set("stale");
        keeper.RequestPortName(c.name);
        EXPECT_EQ(keeper.OpenPortNow(), c.open) << c.text;
        EXPECT_FALSE(keeper.PortNameRequest.IsChanged());
        EXPECT_EQ(keeper.PortErrorText.Get(), c.text);
        EXPECT_EQ(keeper.port.IsOpen(), c.open ? 1u : 0u);
        EXPECT_EQ(keeper.link, &keeper.port);
    }
}

TEST_F(PortKeeperTest, OpenPortNowAlwaysOpensAt19200EightNoneOne) {
    keeper.port.SetSpeed(9);
    keeper.port.SetParityCode(0);
    keeper.port.SetStopBitsCode(2);
    keeper.port.SetHardwareFlow(true);
    keeper.RequestPortName("COM5");
    ASSERT_TRUE(keeper.OpenPortNow());
    EXPECT_EQ(keeper.port.GetSpeed(), 6);
    const auto configured = device.Configured();
    ASSERT_EQ(configured.size(), 1u);
    EXPECT_EQ(configured[0].baudRate, 19200u);
    EXPECT_EQ(configured[0].parity, 0);
    EXPECT_EQ(configured[0].stopBits, 0);
    EXPECT_FALSE(configured[0].hardwareFlow);

    // An open port is left as it is.
    keeper.PortErrorText.Set("stale");
    EXPECT_TRUE(keeper.OpenPortNow());
    EXPECT_EQ(keeper.PortErrorText.Get(), "");
    EXPECT_EQ(device.OpenedPaths().size(), 1u);
}

TEST_F(PortKeeperTest, KeeperRetriesSwitchesAppliesSpeedAndClosesAtStop) {
    device.QueueOpenResult(OpenResult::Failed);
    device.QueueOpenResult(OpenResult::Busy);
    keeper.RequestPortName("COM1");
    auto keeperThread = std::async(std::launch::async, [this] { return keeper.ThreadMain(); });
    ASSERT_TRUE(Eventually([&] { return keeper.PortKeeperRunning.Get() == 1; }));

    ASSERT_TRUE(device.WaitOpen(true));
    EXPECT_EQ(device.OpenedPaths(),
              (std::vector<std::string>{"/fake/COM1", "/fake/COM1", "/fake/COM1"}));
    ASSERT_TRUE(Eventually([&] { return keeper.PortErrorText.Get().empty(); }));

    keeper.RequestSpeed(9);
    ASSERT_TRUE(Eventually([&] { return !device.RateChanges().empty(); }));
    EXPECT_EQ(device.RateChanges().back(), 115200u);
    EXPECT_EQ(keeper.port.GetSpeed(), 9);

    keeper.RequestPortName("COM2");
    ASSERT_TRUE(Eventually([&] { return device.OpenedPaths().size() == 4; }));
    EXPECT_EQ(device.OpenedPaths().back(), "/fake/COM2");
    ASSERT_TRUE(device.WaitOpen(true));

    keeper.RequestPortName("");
    ASSERT_TRUE(device.WaitOpen(false));
    ASSERT_TRUE(
        Eventually([&] { return keeper.PortErrorText.Get() == "No Serial Port Selected."; }));

    keeper.RequestPortName("COM3");
    ASSERT_TRUE(device.WaitOpen(true));
    stopRequested.Set(1);
    EXPECT_EQ(keeperThread.get(), PortKeeper::kExitCode);
    EXPECT_EQ(keeper.PortKeeperRunning.Get(), 0);
    EXPECT_EQ(keeper.port.IsOpen(), 0u);
    EXPECT_FALSE(device.IsDeviceOpen());
    EXPECT_EQ(device.Busy(), 0);
}

TEST_F(PortKeeperTest, KeeperReopensAPortThatCheckDeviceClosed) {
    keeper.RequestPortName("COM1");
    auto keeperThread = std::async(std::launch::async, [this] { return keeper.ThreadMain(); });
    ASSERT_TRUE(device.WaitOpen(true));
    device.SetGone(true);
    keeper.link->CheckDevice();
    device.SetGone(false);
    ASSERT_TRUE(Eventually([&] { return device.OpenedPaths().size() == 2; }));
    ASSERT_TRUE(device.WaitOpen(true));
    stopRequested.Set(1);
    EXPECT_EQ(keeperThread.get(), PortKeeper::kExitCode);
}

TEST_F(PortKeeperTest, OpenPortGivesUpOrSelectsAPort) {
    device.AddPort("COM4");
    keeper.RequestPortName("COM4");
    keeper.PortNameRequest.Get();
    for (const char* name : {"", "off", "OfF"}) {
        EXPECT_FALSE(keeper.OpenPort(name)) << name;
        EXPECT_TRUE(keeper.PortNameRequest.IsChanged());
        EXPECT_EQ(keeper.PortNameRequest.Get(), "");
    }
    keeper.RequestPortName("COM4");
    keeper.PortNameRequest.Get();
    EXPECT_FALSE(keeper.OpenPort("COMCOM3"));
    EXPECT_FALSE(keeper.PortNameRequest.IsChanged());
    EXPECT_EQ(keeper.PortNameRequest.Get(), "COM4");
    EXPECT_TRUE(device.OpenedPaths().empty());
}

TEST_F(PortKeeperTest, OpenPortWithoutTheKeeperOpensOnTheCallersThread) {
    device.AddPort("COM4");
    EXPECT_TRUE(keeper.OpenPort("COM4"));
    EXPECT_EQ(clock.SleptMs(), 100u);
    EXPECT_EQ(keeper.port.IsOpen(), 1u);
    EXPECT_EQ(device.OpenedPaths(), (std::vector<std::string>{"/fake/COM4"}));
    EXPECT_TRUE(keeper.SpeedRequest.IsChanged());
    EXPECT_EQ(keeper.SpeedRequest.Get(), PortKeeper::kEarlyOpenSpeedCode);

    keeper.port.Close();
    device.QueueOpenResult(OpenResult::Busy);
    EXPECT_FALSE(keeper.OpenPort("COM4"));
    EXPECT_EQ(keeper.PortErrorText.Get(), "COM4 is Locked by Another Device!");
}
