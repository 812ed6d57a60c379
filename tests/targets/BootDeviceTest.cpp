// The boot connections against the simulated device's boot personalities.
#include <gtest/gtest.h>

#include <algorithm>

#include "SectionBytes.h"
#include "image/ImageReaders.h"
#include "image/ImageSource.h"
#include "support/ProtocolFixture.h"
#include "targets/OrvaneConnection.h"
#include "targets/PflConnection.h"
#include "targets/RomMonitorConnection.h"

namespace {

using imagefiles::kSflStart;
constexpr uint16_t kResourceId = 501;
const std::vector<uint8_t> kEightBytes = {0x18, 0xF0, 0x9F, 0xE5, 0x00, 0x00, 0xA0, 0xE3};

class BootDeviceTest : public ProtocolFixture {
  protected:
    void Start(Personality personality) {
        StartDevice(personality);
        clock.SetAdvanceHook([this](uint64_t) {
            const uint16_t p = context.progress.Get();
            if (progressSeen.empty() || progressSeen.back() != p) {
                progressSeen.push_back(p);
            }
        });
    }
    void LoadSection(const std::vector<uint8_t>& data) {
        resources.Register(ImageSource::kResourceType, kResourceId,
                           Bytes(S3Line(kSflStart, data) + S7Line(kSflStart)));
        const auto parsed = ParseResource(kResourceId, resources);
        ASSERT_TRUE(parsed && !parsed->sections.empty());
        section = parsed->sections[0];
    }

    ResourceTable resources;
    ParsedSection section;
    std::vector<uint16_t> progressSeen;
};

TEST_F(BootDeviceTest, PflVariantsConnectAfterTheirWindows) {
    struct Case {
        PflVariant device;
        PflConnection::Variant host;
        int32_t speed;
        uint64_t atLeastMs;
        uint64_t belowMs;
    };
    // The version line takes a few ms more; A's window always runs its 250 ms.
    for (const Case& c :
         {Case{PflVariant::A, PflConnection::Variant::A, speedcode::k19200, 253, 280},
          Case{PflVariant::B, PflConnection::Variant::B, speedcode::k57600, 11, 40},
          Case{PflVariant::C, PflConnection::Variant::C, speedcode::k57600, 11, 40}}) {
        config.pflVariant = c.device;
        config.pflVersion = "\x01noise$KALMER PFL 1.3";
        Start(Personality::PrimaryFlashLoader);
        const uint64_t start = clock.NowMs();
        PflConnection pfl(context, c.host, c.speed);
        ASSERT_TRUE(pfl.PflConnect());
        const uint64_t elapsed = clock.NowMs() - start;
        EXPECT_GE(elapsed, c.atLeastMs);
        EXPECT_LT(elapsed, c.belowMs);
        EXPECT_EQ(pfl.PfldVersion(), "$KALMER PFL 1.3");
        EXPECT_TRUE(Logged("PFLD Version ID: $KALMER PFL 1.3"));
        EXPECT_EQ(model->Violations(), std::vector<std::string>());
    }
}

TEST_F(BootDeviceTest, HestanLoadStoresTheWordsAndStartsTheLoader) {
    Start(Personality::RomMonitor);
    LoadSection(kEightBytes);
    RomMonitorConnection monitor(context, speedcode::k19200);
    ASSERT_TRUE(monitor.LoadAndRun(section));
    EXPECT_EQ(model->RamBytes(kSflStart, 8), kEightBytes);
    EXPECT_EQ(ModeNow(), Personality::FlashLoader);
    EXPECT_EQ(progressSeen, (std::vector<uint16_t>{0, 500, 1000}));
    EXPECT_TRUE(Logged("ROM Monitor entered to the test screen."));
    EXPECT_EQ(context.statusText.Get(), "Complete");
    EXPECT_EQ(model->Violations(), std::vector<std::string>());
}

TEST_F(BootDeviceTest, HestanLoadWithALostEchoFailsAndStartsNothing) {
    // Replies: '>', ":test>", then the echoes of the first command; its third goes missing.
    config.faults.dropReply = 5;
    Start(Personality::RomMonitor);
    LoadSection(kEightBytes);
    RomMonitorConnection monitor(context, speedcode::k19200);
    EXPECT_FALSE(monitor.LoadAndRun(section));
    EXPECT_TRUE(Logged("ROM monitor echo timeout."));
    EXPECT_TRUE(Logged("ERROR: section upload failed"));
    EXPECT_EQ(ModeNow(), Personality::RomMonitor);
    EXPECT_EQ(SentText().find("G "), std::string::npos);
}

TEST_F(BootDeviceTest, OrvaneLoadWritesWordsAndRunsInBothVariants) {
    for (auto variant : {OrvaneConnection::Variant::OnKalmer, OrvaneConnection::Variant::MaskRom}) {
        Start(Personality::TextMonitor);
        progressSeen.clear();
        LoadSection(kEightBytes);
        OrvaneConnection orvane(context, variant, speedcode::k57600);
        ASSERT_TRUE(orvane.LoadAndRun(section));
        const std::string sent = SentText();
        EXPECT_NE(sent.find("W201004,E3A00000#"), std::string::npos);
        EXPECT_NE(sent.find("G201000#"), std::string::npos);
        EXPECT_EQ(model->RamBytes(kSflStart, 8), kEightBytes);
        EXPECT_EQ(ModeNow(), Personality::FlashLoader);
        EXPECT_EQ(progressSeen, (std::vector<uint16_t>{0, 500, 1000}));
        EXPECT_TRUE(Logged(std::string(variant == OrvaneConnection::Variant::OnKalmer
                                           ? "Orvane(On Kalmer)"
                                           : "Orvane(Mask ROM)") +
                           " Monitor ID - OM21"));
        EXPECT_EQ(model->Violations(), std::vector<std::string>());
    }
}

TEST_F(BootDeviceTest, OrvaneMonitorOfAnyIdLengthAndDelayConnectsAtTheFirstQuery) {
    for (size_t length : {4u, 10u, 20u, 40u}) {
        for (uint32_t delayMs : {0u, 3u, 20u}) {
            SCOPED_TRACE(testing::Message() << length << " characters, " << delayMs << " ms");
            config.monitorId = std::string(length, 'M');
            config.monitorReplyMs = delayMs;
            Start(Personality::TextMonitor);
            // On a monitor that is never understood the connect would go on for good.
            clock.SetAdvanceHook([start = clock.NowMs(), this](uint64_t now) {
                if (now - start > 5000) {
                    context.cancelRequest.Set(1);
                }
            });
            OrvaneConnection monitor(context, OrvaneConnection::Variant::OnKalmer,
                                     speedcode::k57600);
            EXPECT_TRUE(monitor.OrvaneConnect());
            clock.SetAdvanceHook(nullptr);
            context.cancelRequest.Set(0);
            EXPECT_TRUE(Logged("Orvane(On Kalmer) Monitor ID - " + config.monitorId));
            const std::string sent = SentText();
            EXPECT_EQ(sent.find("#V#"), sent.rfind("#V#"));
        }
    }
}

TEST_F(BootDeviceTest, OrvaneShortLastWordKeepsZeroHighBytes) {
    Start(Personality::TextMonitor);
    LoadSection({0x11, 0x22, 0x33, 0x44, 0x55});
    OrvaneConnection orvane(context, OrvaneConnection::Variant::OnKalmer, speedcode::k57600);
    ASSERT_TRUE(orvane.LoadAndRun(section));
    EXPECT_NE(SentText().find("W201004,55#"), std::string::npos);
    EXPECT_EQ(model->RamBytes(kSflStart, 8),
              (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x00, 0x00, 0x00}));
}

}  // namespace
