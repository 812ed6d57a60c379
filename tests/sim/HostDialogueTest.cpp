// A whole upload through the in-process link on the virtual clock, driven as the host drives
// it: queued writes, TransmitDone polled until the frame has left, answers awaited with
// WaitForByte.
#include <gtest/gtest.h>

#include "sim/SimLink.h"
#include "tests/sim/Wire.h"

namespace {

constexpr uint32_t kStart = 0x10004000;

class Host {
  public:
    explicit Host(SimLink& link) : link_(link) {}

    void Send(const Bytes& bytes) {
        link_.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
        while (!link_.TransmitDone()) {
        }
    }
    // The next byte within ms, or -1.
    int Next(uint32_t ms = 1000) {
        uint8_t b;
        return link_.WaitForByte(ms) && link_.ReadByte(b) ? b : -1;
    }
    bool Record(const Bytes& frame) {
        Send({0x55});
        if (Next() != 0x77) {
            return false;
        }
        Send(frame);
        return Next(5000) == 0x55;
    }

  private:
    SimLink& link_;
};

struct SpeedCase {
    int32_t speed;
    uint64_t shortestMs;  // the line time of the data alone
};

class Upload : public testing::TestWithParam<SpeedCase> {};

TEST_P(Upload, ProgramsTheImageByteForByte) {
    DeviceConfig config;
    config.start = Personality::FlashLoader;
    config.sfldSpeed = GetParam().speed;
    DeviceModel model(config);
    VirtualClock clock;
    SimLink link(model, clock, GetParam().speed);
    Host host(link);

    Bytes image(5001);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    const uint32_t end = kStart + static_cast<uint32_t>(image.size());

    host.Send({0x55, 0xAA});
    int b;
    while ((b = host.Next()) != 0xAA) {
        ASSERT_NE(b, -1);
    }
    host.Send({0x91});
    for (int i = 0; i < 9; ++i) {
        ASSERT_NE(host.Next(), -1);
    }
    host.Send({0x07});
    EXPECT_EQ(host.Next(500), 0x07);
    host.Send({0x55});
    EXPECT_EQ(host.Next(), 0x55);
    host.Send({0x6A});
    EXPECT_EQ(host.Next(), 0x55);
    EXPECT_EQ(host.Next(4000), 0x77);
    ASSERT_TRUE(host.Record(EraseFrame(kStart, end)));
    int sectors = 0;
    while ((b = host.Next(5000)) != 0x55) {
        ASSERT_NE(b, -1);
        sectors += b == 0x8F;
    }
    EXPECT_EQ(sectors, 1);  // the first 8 KiB sector, above the 16 KiB one
    const uint64_t programmingStarts = clock.NowMs();
    for (size_t at = 0; at < image.size(); at += 2048) {
        const size_t n = std::min<size_t>(2048, image.size() - at);
        const Bytes data(image.begin() + static_cast<long>(at),
                         image.begin() + static_cast<long>(at + n));
        ASSERT_TRUE(host.Record(DataFrame(kStart + static_cast<uint32_t>(at), data)));
        EXPECT_EQ(host.Next(), 0x55) << "record at " << at << " not programmed";
    }
    ASSERT_TRUE(host.Record(EndFrame()));

    EXPECT_EQ(model.FlashBytes(kStart, static_cast<uint32_t>(image.size())), image);
    EXPECT_EQ(model.FlashBytes(end, 1), Bytes({0xFF}));
    EXPECT_EQ(model.Counters().recordsProgrammed, 3u);
    EXPECT_TRUE(model.Violations().empty()) << model.Violations().front();
    const uint64_t took = clock.NowMs() - programmingStarts;
    EXPECT_GE(took, GetParam().shortestMs);
    EXPECT_LE(took, GetParam().shortestMs * 11 / 10 + 50);
}

// 5001 data bytes and 3 frames of 10 framing bytes, 10 bits each.
INSTANTIATE_TEST_SUITE_P(Speeds, Upload,
                         testing::Values(SpeedCase{6, 5031 * 10 * 1000 / 19200},
                                         SpeedCase{8, 5031 * 10 * 1000 / 57600},
                                         SpeedCase{9, 5031 * 10 * 1000 / 115200}),
                         [](const auto& info) {
                             return "Baud" +
                                    std::to_string(DeviceModel::BaudOfCode(info.param.speed));
                         });

TEST(Upload, DropReplyMakesTheHostWaitForAnAnswerThatNeverComes) {
    DeviceConfig config;
    config.start = Personality::FlashLoader;
    config.faults.dropReply = 2;  // the SYNC answer to the connect
    DeviceModel model(config);
    VirtualClock clock;
    SimLink link(model, clock);
    Host host(link);
    host.Send({0x55, 0xAA});
    EXPECT_EQ(host.Next(), 0x77);
    EXPECT_EQ(host.Next(1000), -1);
    host.Send({0x55, 0xAA});
    EXPECT_EQ(host.Next(), 0x55);  // taken as a section start now that it is connected
    EXPECT_EQ(host.Next(), 0xAA);
}

}  // namespace
