// The FLASH upload request routed by the target type, against the simulated device.
#include <gmock/gmock.h>

#include "../flashloader/WorkerLog.h"
#include "../image/DamagedImages.h"
#include "sim/DeviceModel.h"
#include "sim/SimLink.h"
#include "targets/UploadSequences.h"
#include "testkit/ImageFiles.h"

using imagefiles::Bytes;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

constexpr uint32_t kMain = 0x10004000;

class UploadSequencesTest : public ::testing::Test {
  protected:
    UploadSequencesTest() : model(Config()) {
        engine.imagePathText.Set(file.Path());
        // As the engine leaves the image before it raises the request.
        EXPECT_TRUE(image.Open(file.Path()));
        image.LoadSections();
        image.MarkActiveSections();
        image.sections[0].active = 1;
    }
    static DeviceConfig Config() {
        DeviceConfig config;
        config.recWait = true;
        return config;
    }
    std::vector<std::string> Logged() { return DrainLog(context); }
    bool FlashHoldsImage() {
        return model.FlashBytes(kMain, static_cast<uint32_t>(data.size())) == data;
    }

    const Bytes data = imagefiles::RandomBytes(5000, 11);
    imagefiles::TempFile file{imagefiles::S3Lines(kMain, data, 30) + imagefiles::SLine(7, kMain)};
    VirtualClock clock{1000};
    DeviceModel model;
    SimLink link{model, clock};
    EngineShared engine;
    TestContext context{clock, engine, &link};
    FirmwareImage image;
    UploadSequences sequences{context, image};
};

TEST_F(UploadSequencesTest, TargetEightProgramsWithRecordWaitOn) {
    engine.targetType.Set(8);
    context.phase.Set(7);
    sequences.FlashUpload();
    EXPECT_EQ(context.succeeded.Get(), 1);
    EXPECT_TRUE(sequences.LastSession().RecordWaitMode);
    EXPECT_TRUE(FlashHoldsImage());
    EXPECT_THAT(model.Violations(), IsEmpty());
    EXPECT_EQ(sequences.LastSession().sfldVersion, "$SFLD V2.05");
    // The request leaves the image closed and free.
    EXPECT_EQ(image.inUse, 0);
    EXPECT_EQ(image.source.kind, ImageSource::Closed);
    EXPECT_EQ(context.programmingStarted.Get(), 1);
    const auto lines = Logged();
    EXPECT_EQ(lines.front(), "Open image file name - " + file.Path());
    EXPECT_THAT(lines, Contains("FLASH Programming Complete."));
    EXPECT_THAT(lines, Not(Contains("Cancel...")));
}

TEST_F(UploadSequencesTest, TargetZeroProgramsWithRecordWaitOff) {
    model.Config().recWait = false;
    engine.targetType.Set(0);
    sequences.FlashUpload();
    EXPECT_EQ(context.succeeded.Get(), 1);
    EXPECT_FALSE(sequences.LastSession().RecordWaitMode);
    EXPECT_TRUE(FlashHoldsImage());
}

TEST_F(UploadSequencesTest, TargetsAboveEightRunNothing) {
    for (int target : {9, 42, 255}) {
        SCOPED_TRACE(target);
        engine.targetType.Set(static_cast<uint8_t>(target));
        context.statusText.Set("before");
        context.cancelRequest.Set(target == 255);
        sequences.FlashUpload();
        EXPECT_EQ(context.succeeded.Get(), 0);
        EXPECT_EQ(context.statusText.Get(), "before");
        EXPECT_EQ(Logged(), target == 255 ? std::vector<std::string>{"Cancel..."}
                                          : std::vector<std::string>{});
        EXPECT_EQ(model.Counters().bytesReceived, 0u);
    }
}

TEST_F(UploadSequencesTest, AClosedPortEndsTheRequestBeforeTheImageIsOpened) {
    link.Close();
    engine.targetType.Set(8);
    sequences.FlashUpload();
    EXPECT_EQ(context.succeeded.Get(), 0);
    EXPECT_EQ(context.statusText.Get(), "ERROR: no port available");
    EXPECT_THAT(Logged(), ElementsAre("ERROR: no port available"));
    // The port keeper had its chance to open the port, and no more.
    EXPECT_EQ(clock.NowMs() - 1000, 1000u);
}

TEST_F(UploadSequencesTest, ACancelWhileThePortIsAwaitedEndsSilently) {
    link.Close();
    context.cancelRequest.Set(1);
    engine.targetType.Set(8);
    sequences.FlashUpload();
    EXPECT_EQ(context.statusText.Get(), "");
    EXPECT_THAT(Logged(), ElementsAre("Cancel..."));
}

TEST_F(UploadSequencesTest, APortTheKeeperReopensInTimeGetsTheUpload) {
    // The device re-appeared: its port was closed and the keeper opens the new one.
    link.Close();
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now >= 1300 && link.IsOpen() == 0) {
            link.Open();
        }
    });
    engine.targetType.Set(8);
    sequences.FlashUpload();
    EXPECT_EQ(context.succeeded.Get(), 1);
    EXPECT_TRUE(FlashHoldsImage());
}

// The upload reads the file again: one damaged since it was checked fails before a byte is sent.
TEST_F(UploadSequencesTest, AnImageThatCannotBeOpenedOrIsDamagedFailsTheRequest) {
    engine.imagePathText.Set(file.Path() + ".missing");
    engine.targetType.Set(8);
    sequences.FlashUpload();
    EXPECT_EQ(context.succeeded.Get(), 0);
    EXPECT_EQ(context.statusText.Get(), "ERROR: image open FAILED");
    EXPECT_EQ(model.Counters().bytesReceived, 0u);

    imagefiles::TempFolder folder;
    for (const imagefiles::DamagedImage& c : imagefiles::MakeDamagedImages(folder)) {
        if (!c.readRefuses) {
            continue;
        }
        SCOPED_TRACE(c.name);
        engine.imagePathText.Set(c.path);
        sequences.FlashUpload();
        EXPECT_EQ(context.succeeded.Get(), 0);
        const std::string status = context.statusText.Get();
        EXPECT_TRUE(status == "ERROR: image open FAILED" || status == "ERROR: " + c.problem)
            << status;
        EXPECT_EQ(model.Counters().bytesReceived, 0u);
    }
}

TEST_F(UploadSequencesTest, ACancelledUploadSaysSo) {
    engine.targetType.Set(8);
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now > 1500) {
            context.cancelRequest.Set(1);
        }
    });
    sequences.FlashUpload();
    EXPECT_EQ(context.succeeded.Get(), 0);
    EXPECT_EQ(Logged().back(), "Cancel...");
    EXPECT_FALSE(FlashHoldsImage());
    EXPECT_EQ(image.inUse, 0);
}

}  // namespace
