// The FLASH upload request routed by the target type, against the simulated device.
#include <gmock/gmock.h>

#include "../image/DamagedImages.h"
#include "image/ImageCheck.h"
#include "support/ProtocolFixture.h"
#include "targets/UploadSequences.h"
#include "testkit/ImageFiles.h"

using imagefiles::Bytes;
using imagefiles::kMainStart;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

class UploadSequencesTest : public ProtocolFixture {
  protected:
    UploadSequencesTest() {
        config.recWait = true;
        StartDevice();
    }
    static std::shared_ptr<const FileBytes> Read(const std::string& path) {
        std::shared_ptr<const FileBytes> file;
        EXPECT_TRUE(ReadImageFile(path, file)) << path;
        return file;
    }
    // What the worker runs for a request of that target type with the image at path.
    Result Serve(uint8_t targetType, const std::string& path) {
        request.targetType = static_cast<TargetType>(targetType);
        request.image = ParseImage(Read(path));
        sequences = std::make_unique<UploadSequences>(context, request);
        return sequences->Run();
    }
    Result Serve(uint8_t targetType) { return Serve(targetType, file.Path()); }
    bool FlashHoldsImage() {
        return model->FlashBytes(kMainStart, static_cast<uint32_t>(data.size())) == data;
    }

    const Bytes data = imagefiles::RandomBytes(5000, 11);
    imagefiles::TempFile file{imagefiles::S3Lines(kMainStart, data, 30) +
                              imagefiles::SLine(7, kMainStart)};
    UploadRequest request;
    std::unique_ptr<UploadSequences> sequences;
};

TEST_F(UploadSequencesTest, TargetEightProgramsWithRecordWaitOn) {
    context.phase.Set(7);
    EXPECT_TRUE(Serve(8));
    EXPECT_TRUE(sequences->Session().RecordWaitMode);
    EXPECT_TRUE(FlashHoldsImage());
    EXPECT_THAT(model->Violations(), IsEmpty());
    EXPECT_EQ(sequences->Session().sfldVersion, "$SFLD V2.05");
    EXPECT_EQ(context.programmingStarted.Get(), 1);
    const auto lines = Logged();
    EXPECT_EQ(lines.front(), "Open image file name - " + file.Path());
    // The image report is logged once, by the request.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "----------- Image Info -----------"), 1);
    EXPECT_THAT(lines, Contains("Active flag: on"));
    EXPECT_THAT(lines, Contains("FLASH Programming Complete."));
    EXPECT_THAT(lines, Not(Contains("Cancel...")));
}

TEST_F(UploadSequencesTest, TargetZeroProgramsWithRecordWaitOff) {
    model->Config().recWait = false;
    EXPECT_TRUE(Serve(0));
    EXPECT_FALSE(sequences->Session().RecordWaitMode);
    EXPECT_TRUE(FlashHoldsImage());
}

TEST_F(UploadSequencesTest, TargetsAboveEightRunNothing) {
    for (int target : {9, 42, 255}) {
        SCOPED_TRACE(target);
        context.statusText.Set("before");
        context.cancelRequest.Set(target == 255);
        const Result result = Serve(static_cast<uint8_t>(target));
        EXPECT_EQ(result.code(), Result::Code::NotSupported);
        EXPECT_EQ(context.statusText.Get(), "before");
        EXPECT_EQ(Logged(), target == 255 ? std::vector<std::string>{"Cancel..."}
                                          : std::vector<std::string>{});
        EXPECT_EQ(model->Counters().bytesReceived, 0u);
    }
}

TEST_F(UploadSequencesTest, AClosedPortEndsTheRequestBeforeTheImageIsOpened) {
    simLink->Close();
    const Result result = Serve(8);
    EXPECT_EQ(result.code(), Result::Code::NoPort);
    EXPECT_EQ(result.words(), "ERROR: no port available");
    EXPECT_EQ(context.statusText.Get(), "ERROR: no port available");
    EXPECT_THAT(Logged(), ElementsAre("ERROR: no port available"));
    // The port keeper had its chance to open the port, and no more.
    EXPECT_EQ(Elapsed(), 1000u);
}

TEST_F(UploadSequencesTest, ACancelWhileThePortIsAwaitedEndsSilently) {
    simLink->Close();
    context.cancelRequest.Set(1);
    EXPECT_EQ(Serve(8).code(), Result::Code::Aborted);
    EXPECT_EQ(context.statusText.Get(), "");
    EXPECT_THAT(Logged(), ElementsAre("Cancel..."));
}

TEST_F(UploadSequencesTest, APortTheKeeperReopensInTimeGetsTheUpload) {
    // The device re-appeared: its port was closed and the keeper opens the new one.
    simLink->Close();
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now >= 1300 && simLink->IsOpen() == 0) {
            simLink->Open();
        }
    });
    EXPECT_TRUE(Serve(8));
    EXPECT_TRUE(FlashHoldsImage());
}

// The bytes written are the ones read: a damaged image fails before a byte is sent, and a
// request that carries no image fails as one that cannot be opened.
TEST_F(UploadSequencesTest, AnImageThatCannotBeOpenedOrIsDamagedFailsTheRequest) {
    request.targetType = TargetType::LoaderRuns;
    request.image = nullptr;
    const Result missing = UploadSequences(context, request).Run();
    EXPECT_EQ(missing.code(), Result::Code::ImageUnusable);
    EXPECT_EQ(context.statusText.Get(), "ERROR: image open FAILED");
    EXPECT_EQ(model->Counters().bytesReceived, 0u);

    imagefiles::TempFolder folder;
    for (const imagefiles::DamagedImage& c : imagefiles::MakeDamagedImages(folder)) {
        if (!c.readRefuses) {
            continue;
        }
        SCOPED_TRACE(c.name);
        std::shared_ptr<const FileBytes> read;
        if (!ReadImageFile(c.path, read)) {
            continue;  // never reaches a request: the dialog's side refuses it
        }
        const Result result = Serve(8, c.path);
        EXPECT_EQ(result.code(), Result::Code::ImageUnusable);
        EXPECT_EQ(result.words(), "ERROR: " + c.problem);
        EXPECT_EQ(context.statusText.Get(), "ERROR: " + c.problem);
        EXPECT_EQ(model->Counters().bytesReceived, 0u);
    }
}

TEST_F(UploadSequencesTest, ACancelledUploadSaysSo) {
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now > 1500) {
            context.cancelRequest.Set(1);
        }
    });
    EXPECT_EQ(Serve(8).code(), Result::Code::Aborted);
    EXPECT_EQ(Logged().back(), "Cancel...");
    EXPECT_FALSE(FlashHoldsImage());
}

}  // namespace
