// The in-process link: line timing on the virtual clock, speeds, purge and the extra rings.
#include "sim/SimLink.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/sim/Wire.h"

namespace {

DeviceConfig Loader() {
    DeviceConfig config;
    config.start = Personality::FlashLoader;
    return config;
}

struct Bench {
    explicit Bench(const DeviceConfig& config = Loader()) : model(config), link(model, clock) {}
    Bytes ReadAll() {
        Bytes result;
        uint8_t b;
        while (link.ReadByte(b)) {
            result.push_back(b);
        }
        return result;
    }
    int ReadOne() {
        uint8_t b;
        return link.WaitForByte(5000) && link.ReadByte(b) ? b : -1;
    }
    VirtualClock clock{1000};
    DeviceModel model;
    SimLink link;
};

struct TimeCase {
    int32_t speed;
    uint32_t count;
    uint32_t ms;
};

class TransmitTimes : public testing::TestWithParam<TimeCase> {};

TEST_P(TransmitTimes, FollowThePortFormula) {
    Bench bench;
    bench.link.SetSpeed(GetParam().speed);
    EXPECT_EQ(bench.link.TransmitTime(GetParam().count), GetParam().ms);
}

INSTANTIATE_TEST_SUITE_P(Speeds, TransmitTimes,
                         testing::Values(TimeCase{6, 5, 3}, TimeCase{8, 3, 1}, TimeCase{8, 5, 1},
                                         TimeCase{8, 50, 9}, TimeCase{6, 50, 26},
                                         TimeCase{0, 1, 33}, TimeCase{9, 1, 1},
                                         TimeCase{6, 2058, 1072}),
                         [](const auto& info) {
                             return "Baud" +
                                    std::to_string(DeviceModel::BaudOfCode(info.param.speed)) +
                                    "_" + std::to_string(info.param.count) + "Bytes";
                         });

TEST(SimLink, AnswerIsReadableOnlyOnceItHasCrossedTheLine) {
    Bench bench;
    bench.link.Write(Bytes{0x55, 0xAA}.data(), 2);
    uint8_t b;
    EXPECT_FALSE(bench.link.ReadByte(b));
    EXPECT_TRUE(bench.link.WaitForByte(1000));
    // Two bytes out and the first answer back at 19200 baud: about 1.6 ms.
    EXPECT_GE(bench.clock.NowMs(), 1002u);
    EXPECT_LE(bench.clock.NowMs(), 1003u);
    EXPECT_EQ(bench.ReadAll(), Bytes({0x77}));
    EXPECT_TRUE(bench.link.WaitForByte(1000));
    EXPECT_EQ(bench.ReadAll(), Bytes({0xAA}));
}

TEST(SimLink, WaitForByteGivesUpAfterItsTime) {
    Bench bench;
    EXPECT_FALSE(bench.link.WaitForByte(250));
    EXPECT_EQ(bench.clock.NowMs(), 1250u);
}

TEST(SimLink, WaitForByteFollowsTheDevicesTimedEvents) {
    DeviceConfig config = Loader();
    config.faults.eraseMsPerSector = 300;
    Bench bench(config);
    const Bytes start = Cat({0x55, 0xAA, 0x55, 0x6A, 0x55}, EraseFrame(0x10000000, 0x10004000));
    bench.link.Write(start.data(), static_cast<uint32_t>(start.size()));
    // Up to the parameter message: 8E 6A and the sector count.
    while (bench.ReadOne() != 0x8E) {
    }
    EXPECT_EQ(bench.ReadOne(), 0x6A);
    EXPECT_EQ(bench.ReadOne(), 1);
    const uint64_t before = bench.clock.NowMs();
    EXPECT_EQ(bench.ReadOne(), 0x8F);
    EXPECT_GE(bench.clock.NowMs() - before, 298u);
    EXPECT_LE(bench.clock.NowMs() - before, 301u);
}

TEST(SimLink, TransmitDoneMovesTheClockUntilTheBytesHaveLeft) {
    Bench bench;
    const Bytes many(2000, 0x12);  // 1042 ms at 19200 baud
    bench.link.Write(many.data(), static_cast<uint32_t>(many.size()));
    int polls = 0;
    while (!bench.link.TransmitDone()) {
        ++polls;
    }
    EXPECT_EQ(polls, 2);  // each poll waits at most 500 ms
    EXPECT_GE(bench.clock.NowMs(), 2042u);
    EXPECT_LE(bench.clock.NowMs(), 2043u);
}

TEST(SimLink, BytesAtAnotherSpeedThanTheDevicesAreCaught) {
    Bench bench;
    bench.link.SetSpeed(8);
    EXPECT_EQ(bench.link.GetSpeed(), 8);
    bench.link.WriteByte(0x55);
    bench.link.WaitForByte(10);
    EXPECT_EQ(bench.model.Violations().size(), 1u);
}

TEST(SimLink, AnswerReadAtAnotherSpeedIsGarbled) {
    Bench bench;
    bench.link.Write(Bytes{0x55, 0xAA}.data(), 2);
    bench.link.WaitForByte(100);
    bench.link.WaitForByte(100);
    bench.clock.Advance(10);
    bench.link.SetSpeed(8);
    EXPECT_EQ(bench.ReadAll(), Bytes({DeviceModel::Garble(0x77), DeviceModel::Garble(0xAA)}));
}

TEST(SimLink, HandshakeRingHoldsItsOwnCopy) {
    Bench bench;
    bench.link.WriteText("\x55\xAA");
    bench.clock.Advance(10);
    EXPECT_EQ(bench.ReadAll(), Bytes({0x77, 0xAA}));
    uint8_t b;
    Bytes handshake;
    while (bench.link.ReadHandshakeByte(b)) {
        handshake.push_back(b);
    }
    EXPECT_EQ(handshake, Bytes({0x77, 0xAA}));
    EXPECT_EQ(bench.link.Sent(), Bytes({0x55, 0xAA}));
}

TEST(SimLink, PurgeDropsWhatWasReceivedAndWhatHasNotReachedTheFifo) {
    Bench bench;
    bench.link.Write(Bytes{0x55, 0xAA}.data(), 2);
    bench.clock.Advance(10);
    bench.link.Purge();
    uint8_t b;
    EXPECT_FALSE(bench.link.ReadByte(b));
    // One byte on the wire and 16 in the FIFO still leave; the 20 version queries after them
    // do not.
    const Bytes queued(37, 0x90);
    bench.link.Write(queued.data(), static_cast<uint32_t>(queued.size()));
    bench.link.Purge();
    bench.clock.Advance(1000);
    const Bytes answers = bench.ReadAll();
    EXPECT_EQ(std::count(answers.begin(), answers.end(), '$'), 17);
}

TEST(SimLink, UnpluggedDeviceClosesTheLink) {
    DeviceConfig config = Loader();
    config.faults.unplugAfter = 2;
    Bench bench(config);
    EXPECT_EQ(bench.link.IsOpen(), 1u);
    bench.link.Write(Bytes{0x55, 0xAA}.data(), 2);
    bench.clock.Advance(10);
    EXPECT_EQ(bench.link.IsOpen(), 0u);
    EXPECT_FALSE(bench.link.WriteByte(0x90));
}

TEST(SimLink, ClosedLinkNeitherReadsNorWritesUntilOpenedAgain) {
    Bench bench;
    bench.link.WriteByte(0xAA);
    bench.link.Close();
    EXPECT_EQ(bench.link.IsOpen(), 0u);
    EXPECT_FALSE(bench.link.WriteByte(0x55));
    bench.clock.Advance(100);  // the answer to the first 0xAA arrives at a closed port
    bench.link.Open();
    EXPECT_TRUE(bench.link.WriteByte(0xAA));
    bench.clock.Advance(10);
    EXPECT_EQ(bench.ReadAll(), Bytes({0xAA}));
}

TEST(SimLink, TranscriptShowsBothDirections) {
    Bench bench;
    bench.link.WriteText("\x55\xAA");
    bench.clock.Advance(10);
    const std::string text = bench.link.TranscriptText();
    // The REC_WAIT answer to the first byte comes back while the second is on its way.
    const size_t host = text.find("host  > 55");
    const size_t device = text.find("device< 77");
    const size_t again = text.find("host  > AA");
    EXPECT_LT(host, device) << text;
    EXPECT_LT(device, again) << text;
    EXPECT_NE(again, std::string::npos) << text;
}

}  // namespace

namespace {

// The dialog's thread reads the handshake ring while the worker talks through the same link.
TEST(SimLink, TwoThreadsShareTheLink) {
    Bench bench;
    Bytes handshake;
    std::thread dialog([&] {
        uint8_t b;
        while (handshake.size() < 40) {
            if (bench.link.ReadHandshakeByte(b)) {
                handshake.push_back(b);
            } else {
                bench.link.TransmitDone();
                std::this_thread::yield();
            }
        }
    });
    // 2 bytes of connect answer and three version lines of 13: 41 bytes for both rings.
    bench.link.Write(Bytes{0x55, 0xAA}.data(), 2);
    Bytes worker;
    for (int i = 0; i < 3; ++i) {
        bench.link.WriteByte(0x90);
        while (worker.size() < 2u + 13u * static_cast<unsigned>(i + 1)) {
            const int b = bench.ReadOne();
            ASSERT_GE(b, 0);
            worker.push_back(static_cast<uint8_t>(b));
        }
    }
    dialog.join();
    EXPECT_EQ(Bytes(handshake.begin(), handshake.begin() + 40),
              Bytes(worker.begin(), worker.begin() + 40));
    EXPECT_EQ(handshake[0], 0x77);
    EXPECT_EQ(handshake[1], 0xAA);
    EXPECT_EQ(handshake[2], '$');
}

}  // namespace
