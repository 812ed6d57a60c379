#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Eventually.h"
#include "FakeSerialDevice.h"
#include "serial/SerialPort.h"

namespace {

using OpenResult = SerialDevice::OpenResult;

std::vector<uint8_t> Pattern(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    return bytes;
}

template <typename Read>
std::vector<uint8_t> ReadAll(Read read) {
    std::vector<uint8_t> out;
    uint8_t byte = 0;
    while (read(byte)) {
        out.push_back(byte);
    }
    return out;
}

// Polls TransmitDone as the protocols do; false when it never says done.
bool PollTransmitDone(SerialPort& port, int maxCalls, int* calls = nullptr) {
    for (int i = 1; i <= maxCalls; ++i) {
        if (port.TransmitDone() != 0) {
            if (calls != nullptr) {
                *calls = i;
            }
            return true;
        }
    }
    return false;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void OpenAs(const std::string& name) {
        port.SetPortName(name);
        port.Open();
    }

    FakeSerialDevice device;
    SerialPort port{device};
};

}  // namespace

TEST_F(SerialPortTest, OpenFailuresLeaveTheirTextOnce) {
    const struct {
        OpenResult result;
        const char* text;
    } cases[] = {
        {OpenResult::Busy, "COM3 is Locked by Another Device!"},
        {OpenResult::Failed, "COM3 Serial Port Open Error!"},
    };
    for (const auto& c : cases) {
        device.QueueOpenResult(c.result);
        OpenAs("COM3");
        EXPECT_EQ(port.IsOpen(), 0u);
        std::string text;
        EXPECT_TRUE(port.TakeError(text));
        EXPECT_EQ(text, c.text);
        EXPECT_FALSE(port.TakeError(text));
    }
    EXPECT_EQ(device.OpenedPaths(), (std::vector<std::string>{"/fake/COM3", "/fake/COM3"}));
}

TEST_F(SerialPortTest, EmptyNameOpensNothing) {
    port.SetPortName("");
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.IsOpen(), 0u);
    EXPECT_TRUE(device.OpenedPaths().empty());
}

TEST_F(SerialPortTest, ParityStopBitAndSpeedCodes) {
    const std::pair<int, int> parity[] = {{0, 2}, {1, 3}, {2, 0}, {3, 1}, {4, 0}, {-1, 0}};
    for (const auto& [code, value] : parity) {
        port.SetParityCode(code);
        EXPECT_EQ(port.Parity(), value) << code;
    }
    const std::pair<int, int> stopBits[] = {{0, 0}, {1, 1}, {2, 2}, {3, 0}, {-1, 0}};
    for (const auto& [code, value] : stopBits) {
        port.SetStopBitsCode(code);
        EXPECT_EQ(port.StopBits(), value) << code;
    }
    const std::pair<int, uint32_t> speeds[] = {{0, 300},    {5, 9600},   {6, 19200},
                                               {9, 115200}, {10, 19200}, {-1, 19200}};
    for (const auto& [code, rate] : speeds) {
        port.StoreSpeed(code);
        EXPECT_EQ(port.GetSpeed(), code);
        EXPECT_EQ(port.BaudRate(), rate) << code;
    }
}

TEST_F(SerialPortTest, TransmitTimeRoundsAndIsAtLeastOne) {
    const struct {
        int code;
        uint32_t count;
        uint32_t ms;
    } cases[] = {{8, 0, 1}, {8, 3, 1},  {8, 10, 2},       {8, 50, 9},
                 {6, 5, 3}, {0, 1, 33}, {9, 11520, 1000}, {5, 1, 1}};
    for (const auto& c : cases) {
        port.StoreSpeed(c.code);
        EXPECT_EQ(port.TransmitTime(c.count), c.ms) << c.code << " " << c.count;
    }
}

TEST_F(SerialPortTest, ClosedPortQueuesNothingAndAnswersAtOnce) {
    EXPECT_FALSE(port.Write(Pattern(4).data(), 4));
    EXPECT_FALSE(port.WriteByte(0x41));
    EXPECT_FALSE(port.WriteText("abc"));
    EXPECT_EQ(port.TransmitDone(), 1u);
    port.SetSpeed(9);
    EXPECT_EQ(port.GetSpeed(), 9);
    EXPECT_TRUE(device.RateChanges().empty());
    EXPECT_FALSE(port.WaitForByte(1));
}

TEST_F(SerialPortTest, EveryReceivedByteIsReadOnceFromEachRing) {
    OpenAs("COM1");
    uint8_t byte = 0;
    EXPECT_FALSE(port.ReadByte(byte));
    EXPECT_FALSE(port.WaitForByte(20));
    device.Receive({1, 2, 3});
    ASSERT_TRUE(port.WaitForByte(10000));
    ASSERT_TRUE(device.WaitReaderIdle());
    EXPECT_EQ(ReadAll([&](uint8_t& b) { return port.ReadHandshakeByte(b); }),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ReadAll([&](uint8_t& b) { return port.ReadByte(b); }),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(port.ReadByte(byte));
    EXPECT_FALSE(port.ReadHandshakeByte(byte));
}

TEST_F(SerialPortTest, WriteTextSendsTheCharactersWithoutTerminator) {
    OpenAs("COM1");
    ASSERT_TRUE(port.WriteText("G201000#"));
    ASSERT_TRUE(device.WaitSent(8));
    const std::string expected = "G201000#";
    EXPECT_EQ(device.Sent(), std::vector<uint8_t>(expected.begin(), expected.end()));
}

TEST_F(SerialPortTest, QueuedBytesLeaveInWritesOfAtMost8196) {
    OpenAs("COM1");
    const std::vector<uint8_t> data = Pattern(20000);
    ASSERT_TRUE(port.Write(data.data(), static_cast<uint32_t>(data.size())));
    ASSERT_TRUE(device.WaitSent(data.size()));
    EXPECT_EQ(device.WriteSizes(), (std::vector<uint32_t>{8196, 8196, 3608}));
    EXPECT_EQ(device.Sent(), data);
}

TEST_F(SerialPortTest, AnOverflowingWriteKeepsTheNewestBytes) {
    OpenAs("COM1");
    const std::vector<uint8_t> data = Pattern(40000);
    ASSERT_TRUE(port.Write(data.data(), static_cast<uint32_t>(data.size())));
    ASSERT_TRUE(device.WaitSent(32761));
    EXPECT_EQ(device.Sent(), std::vector<uint8_t>(data.end() - 32761, data.end()));
}

TEST_F(SerialPortTest, TransmitDoneWaitsForTheQueueAndTheDriver) {
    OpenAs("COM1");
    device.HoldWrites(true);
    const std::vector<uint8_t> data = Pattern(100);
    ASSERT_TRUE(port.Write(data.data(), 100));
    EXPECT_EQ(port.TransmitDone(), 0u);
    device.HoldWrites(false);
    ASSERT_TRUE(device.WaitSent(100));
    EXPECT_TRUE(PollTransmitDone(port, 10));

    device.SetLineStatus({0, 0, 5});
    EXPECT_EQ(port.TransmitDone(), 0u);
    EXPECT_EQ(port.TransmitDone(), 0u);
    device.SetLineStatus({0, 0, 0});
    EXPECT_TRUE(PollTransmitDone(port, 10));
}

TEST_F(SerialPortTest, TransmitDoneIsTrueOnlyOnceTheBytesLeftEvenUnderConcurrentQuestions) {
    OpenAs("COM1");
    // A second caller keeps the writer cycling, so questions often arrive mid-cycle.
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop) {
            port.TransmitDone();
        }
    });
    for (size_t i = 1; i <= 300; ++i) {
        ASSERT_TRUE(port.WriteByte(static_cast<int>(i)));
        ASSERT_TRUE(PollTransmitDone(port, 1000));
        EXPECT_EQ(device.Sent().size(), i) << "done reported before the byte left";
    }
    stop = true;
    other.join();
}

TEST_F(SerialPortTest, SetSpeedReturnsAfterTheWriterAppliedIt) {
    OpenAs("COM1");
    port.SetSpeed(9);
    EXPECT_EQ(device.RateChanges(), (std::vector<uint32_t>{115200}));
    port.SetSpeed(0);
    EXPECT_EQ(device.RateChanges(), (std::vector<uint32_t>{115200, 300}));
    EXPECT_EQ(port.GetSpeed(), 0);
}

TEST_F(SerialPortTest, LineErrorTextsFollowTheirOrder) {
    const struct {
        uint32_t errors;
        std::string text;
    } cases[] = {
        {LineError::kBreak | LineError::kRxParity,
         "The hardware detected a break condition.\nThe hardware detected a parity error.\n"},
        {LineError::kOverrun, "A character-buffer overrun has occurred.\n"},
        {0xFFFF,
         "The hardware detected a break condition.\n"
         "The hardware detected a framing error.\n"
         "An I/O error occurred during communications with the device.\n"
         "The requested mode is not supported.\n"
         "A character-buffer overrun has occurred.\n"
         "An input buffer overflow has occurred.\n"
         "The hardware detected a parity error.\n"
         "Output buffer overflow.\n"},
    };
    for (const auto& c : cases) {
        device.SetLineStatus({c.errors, 0, 0});
        EXPECT_TRUE(port.PollLineErrors());
        std::string text;
        ASSERT_TRUE(port.TakeError(text));
        EXPECT_EQ(text, c.text);
    }
    device.SetLineStatus({LineError::kFrame, 0, 0});
    EXPECT_TRUE(port.PollLineErrors());
    EXPECT_FALSE(port.PollLineErrors());
    std::string text = "untouched";
    EXPECT_FALSE(port.TakeError(text));
    EXPECT_EQ(text, "untouched");
}

TEST_F(SerialPortTest, TheWriterPollsLineErrorsEveryCycle) {
    OpenAs("COM1");
    device.SetLineStatus({LineError::kFrame, 0, 0});
    port.TransmitDone();
    std::string text;
    ASSERT_TRUE(port.TakeError(text));
    EXPECT_EQ(text, "The hardware detected a framing error.\n");
}

TEST_F(SerialPortTest, RefusedWritesAreRetriedInOrderWithoutSpinning) {
    OpenAs("COM1");
    device.RefuseWrites(3);
    const std::vector<uint8_t> data = Pattern(300);
    ASSERT_TRUE(port.Write(data.data(), 100));
    ASSERT_TRUE(port.Write(data.data() + 100, 200));
    int calls = 0;
    ASSERT_TRUE(PollTransmitDone(port, 100, &calls));
    EXPECT_EQ(device.Sent(), data);
    // One attempt a writer cycle at most, however fast TransmitDone is polled.
    EXPECT_LE(device.WriteAttempts(), calls + 2);
}

TEST_F(SerialPortTest, RefusedReadsAreRetried) {
    device.RefuseReads(3);
    OpenAs("COM1");
    device.Receive({7, 8});
    std::vector<uint8_t> got;
    uint8_t byte = 0;
    for (int i = 0; i < 100 && got.size() < 2; ++i) {
        port.WaitForByte(100);
        while (port.ReadByte(byte)) {
            got.push_back(byte);
        }
    }
    EXPECT_EQ(got, (std::vector<uint8_t>{7, 8}));
    EXPECT_GE(device.ReadAttempts(), 4);
}

TEST_F(SerialPortTest, CloseEndsBothThreadsEvenInsideTheDriver) {
    OpenAs("COM1");
    device.HoldWrites(true);
    ASSERT_TRUE(port.WriteText("stuck"));
    port.TransmitDone();
    port.Close();
    EXPECT_EQ(port.IsOpen(), 0u);
    EXPECT_FALSE(device.IsDeviceOpen());
    EXPECT_EQ(device.Busy(), 0);
    EXPECT_EQ(device.CallsWhileClosed(), 0);
    const auto calls = device.Calls();
    EXPECT_EQ(calls.back(), "Close");
    EXPECT_FALSE(port.WriteByte(1));
    port.Close();
}

TEST_F(SerialPortTest, ADeviceThatLeavesIsToldAtOnceAndOnlyItsPortIsClosed) {
    port.CheckDevice();
    OpenAs("COM1");
    port.CheckDevice();
    EXPECT_EQ(port.IsOpen(), 1u);
    EXPECT_FALSE(port.DeviceLeft());
    device.SetGone(true);
    // The refused read tells, before anyone asks; the port stays open until CheckDevice.
    ASSERT_TRUE(Eventually([&] { return port.DeviceLeft(); }));
    EXPECT_EQ(port.IsOpen(), 1u);
    port.CheckDevice();
    EXPECT_EQ(port.IsOpen(), 0u);
    EXPECT_FALSE(device.IsDeviceOpen());
    // Told until the port is opened again, with the path it had.
    EXPECT_TRUE(port.DeviceLeft());
    EXPECT_EQ(port.DeviceName(), "/fake/COM1");
    device.SetGone(false);
    port.Open();
    EXPECT_FALSE(port.DeviceLeft());
}

TEST_F(SerialPortTest, PurgeEmptiesTheRingsAndTheDriver) {
    OpenAs("COM1");
    device.Receive({1, 2});
    ASSERT_TRUE(device.WaitReaderIdle());
    port.WriteText("x");
    ASSERT_TRUE(device.WaitSent(1));
    port.Purge();
    uint8_t byte = 0;
    EXPECT_FALSE(port.ReadByte(byte));
    EXPECT_FALSE(port.ReadHandshakeByte(byte));
    const auto calls = device.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "PurgeTxRx"), calls.end());
}

TEST_F(SerialPortTest, ReopeningStartsWithEmptyRings) {
    OpenAs("COM1");
    device.Receive({1});
    ASSERT_TRUE(device.WaitReaderIdle());
    port.WriteText("abc");
    ASSERT_TRUE(device.WaitSent(3));
    port.Close();
    port.Open();
    ASSERT_EQ(port.IsOpen(), 1u);
    uint8_t byte = 0;
    EXPECT_FALSE(port.ReadByte(byte));
    EXPECT_FALSE(port.ReadHandshakeByte(byte));
}
