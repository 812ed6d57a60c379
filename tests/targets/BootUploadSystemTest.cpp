// Target types 1 to 7 from the image file to the programmed flash, and "Run ARM Image" by
// target type, against the simulated device.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "SectionBytes.h"
#include "UnionImage.h"
#include "engine/UploadWorker.h"
#include "image/ImageCheck.h"
#include "image/ResourceTable.h"
#include "support/ProtocolFixture.h"
#include "support/WorkerRun.h"
#include "targets/BootSteps.h"
#include "targets/TargetCatalogue.h"
#include "targets/UploadSequences.h"

namespace {

struct BootDevice {
    Personality personality;
    PflVariant variant;
};

// The device each target type boots into.
BootDevice DeviceOf(uint8_t targetType) {
    switch (targetType) {
        case 1:
            return {Personality::RomMonitor, PflVariant::C};
        case 2:
        case 3:
            return {Personality::TextMonitor, PflVariant::C};
        case 4:
            return {Personality::PrimaryFlashLoader, PflVariant::A};
        case 5:
            return {Personality::PrimaryFlashLoader, PflVariant::B};
        case 6:
        case 7:
            return {Personality::PrimaryFlashLoader, PflVariant::C};
        default:
            return {Personality::FlashLoader, PflVariant::C};
    }
}

class BootSystemTest : public ProtocolFixture {
  protected:
    void Start(uint8_t targetType) {
        const BootDevice device = DeviceOf(targetType);
        config.pflVariant = device.variant;
        StartDevice(device.personality);
        request.targetType = static_cast<TargetType>(targetType);
    }
    // The file read and parsed as the dialog's side does it; nothing when it cannot be read.
    void SetImagePath(const std::string& path) {
        std::shared_ptr<const FileBytes> file;
        request.image = ReadImageFile(path, file) ? ParseImage(file) : nullptr;
    }
    // The loader the request carries for its target type, chosen as the dialog's side does.
    void ChooseLoader() {
        request.loader =
            CheckLoader(request.image, nullptr, Targets().LoaderResourceOf(request.targetType))
                .loader;
    }
    // The image of the next request, opened with its report logged, so that a test can mark
    // its sections first.
    void LoadImage(const std::string& path) {
        SetImagePath(path);
        sequences = std::make_unique<UploadSequences>(context, request);
        ASSERT_TRUE(sequences->OpenImage());
    }
    void Upload() {
        ChooseLoader();
        result = sequences->FlashUpload();
    }
    void RunImage() {
        sequences = std::make_unique<UploadSequences>(context, request);
        result = sequences->RunImage();
    }
    const ParsedImage& Image() { return *request.image; }
    // The lines from the first one equal to from on.
    std::vector<std::string> LogsFrom(const std::string& from) {
        AllLogs();
        auto at = std::find(logs.begin(), logs.end(), from);
        return std::vector<std::string>(at, logs.end());
    }
    bool FlashUntouched() {
        const NorFlash& flash = model->Flash();
        const std::vector<uint8_t> bytes =
            model->FlashBytes(flash.Base(), flash.End() - flash.Base());
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
    }

    UploadRequest request;
    std::unique_ptr<UploadSequences> sequences;
    Result result;
};

class BootTypeTest : public BootSystemTest, public ::testing::WithParamInterface<int> {};

TEST_P(BootTypeTest, LoaderFromTheImageUnionFileThenTheFlashIsProgrammed) {
    const uint8_t type = static_cast<uint8_t>(GetParam());
    const UnionImage file(0x1800, 0x200);
    Start(type);
    LoadImage(file.WriteTo(TempPath("boot-union-" + std::to_string(type) + ".bin")));
    ASSERT_EQ(Image().sections.size(), 3u);
    // The loader section is loaded although the flash upload never writes it.
    EXPECT_FALSE(IsWritten(Image(), 2));

    Upload();

    EXPECT_TRUE(result.ok()) << ::testing::PrintToString(AllLogs());
    EXPECT_TRUE(Logged("Upload SFLD From image-union file"));
    EXPECT_TRUE(Logged("SFLD upload is successful"));
    EXPECT_EQ(model->RamBytes(UnionImage::kSflStart, 0x200), file.sfl);
    EXPECT_EQ(ModeNow(), Personality::FlashLoader);
    EXPECT_EQ(model->FlashBytes(UnionImage::kMainStart, 0x1800), file.main);
    EXPECT_EQ(model->Violations(), std::vector<std::string>());
    // Type 5 leaves the record wait as it found it (off, as every request begins).
    EXPECT_EQ(sequences->Session().RecordWaitMode, type != 5);
    // The boot load is phase 1, between the start and the erases; the first section is
    // written by every upload, then the main firmware.
    EXPECT_EQ(context.phasesSeen, std::vector<uint16_t>({0, 1, 2, 3, 2, 3}));
    EXPECT_EQ(model->FlashBytes(UnionImage::kPflStart, 0x100), file.pfl);
    // Only a primary loader's targets show that the loader now runs.
    const bool primaryLoader = type >= 4;
    EXPECT_EQ(std::count(context.statusSeen.begin(), context.statusSeen.end(), "Run SFLD"),
              primaryLoader ? 1 : 0);
}

TEST_P(BootTypeTest, NoLoaderSectionAndNoResourceLeavesTheFlashUntouched) {
    const uint8_t type = static_cast<uint8_t>(GetParam());
    const UnionImage file(0x400, 0, false);
    Start(type);
    LoadImage(file.WriteTo(TempPath("boot-nosfl-" + std::to_string(type) + ".bin")));

    Upload();

    EXPECT_FALSE(result.ok());
    const std::vector<std::string> tail = {"Upload SFLD From resource",
                                           "ERROR: SFLD resource open failed"};
    EXPECT_EQ(LogsFrom("Upload SFLD From resource"), tail);
    EXPECT_EQ(context.statusText.Get(), "ERROR: SFLD resource open failed");
    EXPECT_TRUE(simLink->Sent().empty());
    EXPECT_TRUE(FlashUntouched());
}

TEST_P(BootTypeTest, ADeviceThatLeavesWhileItsLoaderIsLoadedEndsTheRequestAtOnce) {
    const uint8_t type = static_cast<uint8_t>(GetParam());
    const UnionImage file(0x400, 0x200);
    config.faults.unplugAfter = 200;  // inside the loader's upload, whatever the connection
    Start(type);
    LoadImage(file.WriteTo(TempPath("boot-unplug-" + std::to_string(type) + ".bin")));
    uint64_t leftAt = 0;
    clock.SetAdvanceHook([&](uint64_t now) {
        if (leftAt == 0 && model->Unplugged()) {
            leftAt = now;
        }
    });

    Upload();

    clock.SetAdvanceHook(nullptr);
    EXPECT_FALSE(result.ok());
    ASSERT_TRUE(model->Unplugged());
    if (leftAt == 0) {
        leftAt = clock.NowMs();  // it ended before the clock moved on
    }
    // No wait runs out: the first look after the device left ends the request.
    EXPECT_LE(clock.NowMs() - leftAt, 200u) << ::testing::PrintToString(LogsFrom("*Load image*"));
    EXPECT_TRUE(Logged("ERROR: section upload failed"));
}

TEST_P(BootTypeTest, ABootLoaderThatNeverAnswersEndsWhenTheWaitHasPassed) {
    const uint8_t type = static_cast<uint8_t>(GetParam());
    const UnionImage file(0x400, 0x200);
    config.faults.silent = true;
    Start(type);
    // Longer than the text monitor's own limit, which gives way to the request's.
    request.bootWaitMs = 31000;
    LoadImage(file.WriteTo(TempPath("boot-silent-" + std::to_string(type) + ".bin")));
    const uint64_t start = clock.NowMs();

    Upload();

    EXPECT_EQ(result.code(), Result::Code::NoAnswer);
    EXPECT_EQ(result.words(), "ERROR: no answer from the boot loader");
    EXPECT_EQ(context.statusText.Get(), "ERROR: no answer from the boot loader");
    // The wait is the clock's: it ends within one probe cycle of the limit.
    EXPECT_GE(clock.NowMs() - start, 31000u);
    EXPECT_LE(clock.NowMs() - start, 31700u);
    EXPECT_TRUE(FlashUntouched());
}

INSTANTIATE_TEST_SUITE_P(TargetTypes, BootTypeTest, ::testing::Range(1, 8),
                         ::testing::PrintToStringParamName());

class ResourceTest : public BootSystemTest {
  protected:
    ~ResourceTest() override { SetModuleResources(nullptr); }
    ResourceTable resources;
};

TEST_F(ResourceTest, LoaderFromTheTypesModuleResource) {
    // Types 6 and 7 differ only in the resource they ask for.
    const UnionImage file(0x400, 0, false);
    std::mt19937 random(3);
    const std::vector<uint8_t> loader = UnionImage::Section(UnionImage::kSflStart, 0x80, random);
    resources.Register(ImageSource::kResourceType, 196, loader);
    SetModuleResources(&resources);
    Start(7);
    LoadImage(file.WriteTo(TempPath("boot-resource.bin")));
    Upload();
    EXPECT_TRUE(result.ok());
    EXPECT_TRUE(Logged("Upload SFLD From resource"));
    EXPECT_EQ(model->RamBytes(UnionImage::kSflStart, 0x80), loader);
    EXPECT_EQ(model->FlashBytes(UnionImage::kMainStart, 0x400), file.main);

    Start(6);
    logs.clear();
    Upload();
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(Logged("ERROR: SFLD resource open failed"));
}

TEST_F(ResourceTest, EachTypeAsksForItsOwnResource) {
    const uint16_t kIds[] = {0, 174, 174, 174, 174, 174, 195, 196};
    const std::string path = UnionImage(0x400, 0, false).WriteTo(TempPath("boot-ids.bin"));
    for (uint8_t type = 1; type <= 7; ++type) {
        SCOPED_TRACE(static_cast<int>(type));
        // Found only under the type's own number; its content does not parse.
        ResourceTable own;
        own.Register(ImageSource::kResourceType, kIds[type], {1, 2, 3, 4, 5, 6, 7, 8});
        SetModuleResources(&own);
        Start(type);
        LoadImage(path);
        Upload();
        EXPECT_EQ(context.statusText.Get(), "ERROR: wrong SFLD resource format");
        SetModuleResources(nullptr);
    }
}

TEST_F(ResourceTest, UnreadableResourceIsAWrongFormat) {
    const UnionImage file(0x400, 0, false);
    resources.Register(ImageSource::kResourceType, 174, {1, 2, 3, 4, 5, 6, 7, 8});
    SetModuleResources(&resources);
    Start(1);
    LoadImage(file.WriteTo(TempPath("boot-badresource.bin")));
    Upload();
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(context.statusText.Get(), "ERROR: wrong SFLD resource format");
    EXPECT_TRUE(simLink->Sent().empty());
}

// --- Run ARM Image ---

class RunImageTest : public BootSystemTest, public ::testing::WithParamInterface<int> {
  protected:
    // One S-record section at the flash loader's address, so that starting it is seen.
    std::string WriteSection(const std::vector<uint8_t>& data) {
        std::string path = TempPath("run-image.s3");
        std::ofstream out(path, std::ios::binary);
        out << S3Line(UnionImage::kSflStart, data) << S7Line(UnionImage::kSflStart);
        return path;
    }
};

TEST_P(RunImageTest, LoadsAndStartsTheSectionWhereTheTypeHasABootConnection) {
    const uint8_t type = static_cast<uint8_t>(GetParam());
    const std::vector<uint8_t> data = {0x18, 0xF0, 0x9F, 0xE5, 0x00, 0x00, 0xA0, 0xE3};
    Start(type);
    SetImagePath(WriteSection(data));
    RunImage();

    EXPECT_TRUE(Logged("*Section report*"));
    EXPECT_EQ(context.phase.Get(), 4);
    const bool connects = type >= 1 && type <= 7;
    EXPECT_EQ(result.ok(), connects);
    EXPECT_EQ(Logged("ERROR: RUN Not supported for this target..."), type == 0 || type == 8);
    if (connects) {
        EXPECT_EQ(model->RamBytes(UnionImage::kSflStart, 8), data);
        EXPECT_EQ(ModeNow(), Personality::FlashLoader);
        EXPECT_EQ(context.statusText.Get(), "Complete");
    } else {
        EXPECT_TRUE(simLink->Sent().empty());
        EXPECT_EQ(context.statusText.Get(), "Open image");
    }
    EXPECT_EQ(model->Violations(), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(TargetTypes, RunImageTest,
                         ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 255),
                         ::testing::PrintToStringParamName());

TEST_F(BootSystemTest, RunImageOfCodeThatNeverAnswersSaysWhatHappened) {
    // Code of its own, not the flash loader: once started it takes no records.
    const uint32_t code = UnionImage::kSflStart + 0x10000;
    const std::string path = TempPath("run-own-code.s3");
    std::ofstream(path, std::ios::binary) << S3Line(code, {0xFE, 0xFF, 0xFF, 0xEA}) << S7Line(code);
    for (uint8_t type = 1; type <= 7; ++type) {
        SCOPED_TRACE(static_cast<int>(type));
        Start(type);
        SetImagePath(path);
        context.statusSeen.clear();
        logs.clear();
        RunImage();
        EXPECT_EQ(model->Counters().runs, 1u);
        const bool asksForAnswer = type >= 4;
        EXPECT_EQ(result.ok(), !asksForAnswer);
        if (asksForAnswer) {
            EXPECT_EQ(context.statusText.Get(), "ERROR: started code did not answer");
            EXPECT_EQ(std::count(context.statusSeen.begin(), context.statusSeen.end(), "Complete"),
                      0);
            EXPECT_TRUE(Logged("ERROR: Send Record TIMEOUT."));
        } else {
            EXPECT_EQ(context.statusText.Get(), "Complete");
            EXPECT_TRUE(Logged("Code started; this target gives no answer from it"));
        }
    }
}

TEST_F(BootSystemTest, RunImageOnTheMaskRomMonitorUsesItsTexts) {
    Start(2);
    SetImagePath(UnionImage(0x400, 0, false).WriteTo(TempPath("run-union.bin")));
    RunImage();
    EXPECT_TRUE(Logged("Target - Orvane(Mask ROM)"));
    EXPECT_TRUE(Logged("Orvane(Mask ROM) Monitor ID - OM21"));
}

TEST_F(BootSystemTest, RunImageEndsEarly) {
    struct Case {
        const char* name;
        bool portOpen;
        std::string path;
        const char* status;
    };
    const std::string garbage = TempPath("run-garbage.bin");
    std::ofstream(garbage) << "short";
    const std::vector<Case> cases = {
        {"closed port", false, garbage, "ERROR: no port available"},
        {"missing file", true, TempPath("no-such-image.bin"), "ERROR: image open FAILED"},
        {"no section", true, garbage, "ERROR: bad image FORMAT"},
    };
    for (const Case& c : cases) {
        Start(4);
        if (!c.portOpen) {
            simLink->Close();
        }
        SetImagePath(c.path);
        RunImage();
        EXPECT_EQ(context.statusText.Get(), c.status) << c.name;
        EXPECT_TRUE(Logged(c.status)) << c.name;
        EXPECT_FALSE(result.ok()) << c.name;
        EXPECT_TRUE(simLink->Sent().empty()) << c.name;
    }
}

}  // namespace

namespace {

TEST_F(BootSystemTest, CancelledRunImageIsNotStartedAndDoesNotSucceed) {
    // Two records: a gap in the addresses ends the first.
    const std::string path = TempPath("run-cancel.s3");
    std::ofstream(path, std::ios::binary)
        << S3Line(UnionImage::kSflStart, {1, 2, 3, 4})
        << S3Line(UnionImage::kSflStart + 0x100, {5, 6, 7, 8}) << S7Line(UnionImage::kSflStart);
    Start(6);
    SetImagePath(path);
    clock.SetAdvanceHook([this](uint64_t) {
        if (model->Counters().recordsLoaded >= 1) {
            context.cancelRequest.Set(1);
        }
    });
    RunImage();
    clock.SetAdvanceHook(nullptr);

    EXPECT_FALSE(result.ok());
    EXPECT_EQ(model->Counters().recordsLoaded, 1u);
    const std::vector<uint8_t> sent = simLink->Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'G'), 0);
    EXPECT_NE(context.statusText.Get(), "Complete");
    EXPECT_EQ(ModeNow(), Personality::PrimaryFlashLoader);
    EXPECT_TRUE(Logged("ERROR: section upload failed"));
    EXPECT_EQ(AllLogs().back(), "Cancel...");
}

}  // namespace

namespace {

TEST_F(BootSystemTest, RunImageRequestIsServedByTheWorkerThread) {
    const std::vector<uint8_t> data = {0x18, 0xF0, 0x9F, 0xE5};
    const std::string path = TempPath("run-request.s3");
    std::ofstream(path, std::ios::binary)
        << S3Line(UnionImage::kSflStart, data) << S7Line(UnionImage::kSflStart);
    Start(6);
    SetImagePath(path);
    request.job = UploadRequest::Job::RunImage;
    LockedValue32 stopRequested{0};
    SequenceRequests served;
    UploadWorker worker(clock, stopRequested, *simLink, served);
    ServeOne(worker, stopRequested, request);

    EXPECT_TRUE(worker.HasSucceeded());
    EXPECT_TRUE(worker.LastResult());
    EXPECT_EQ(model->RamBytes(UnionImage::kSflStart, 4), data);
    const std::vector<std::string> lines = DrainLog([&worker] { return worker.TakeLogLine(); });
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[1], "*** Run ARM Image ***");
    EXPECT_EQ(lines.back(), "**********************");
    // The connection ran at 57600; the worker puts back the speed it found.
    EXPECT_EQ(simLink->GetSpeed(), 6);
}

}  // namespace

namespace {

TEST_F(BootSystemTest, APrimaryLoaderAfterATypeEightUploadGetsNoRecordWait) {
    // The same requests object serves both, as the worker does for the process's lifetime.
    const UnionImage file(0x400, 0x200);
    Start(8);
    LoadImage(file.WriteTo(TempPath("session-first.bin")));
    Upload();
    ASSERT_TRUE(result.ok());
    ASSERT_TRUE(sequences->Session().RecordWaitMode);

    // A primary loader that never sends REC_WAIT_CODE.
    config.pflRecWait = false;
    Start(5);
    LoadImage(file.WriteTo(TempPath("session-second.bin")));
    const uint64_t start = clock.NowMs();
    Upload();
    EXPECT_TRUE(result.ok()) << ::testing::PrintToString(AllLogs());
    EXPECT_FALSE(Logged("'REC_WAIT_CODE' waiting time out."));
    EXPECT_FALSE(sequences->Session().RecordWaitMode);
    EXPECT_LT(clock.NowMs() - start, 5000u);
    EXPECT_EQ(model->FlashBytes(UnionImage::kMainStart, 0x400), file.main);
}

}  // namespace

namespace {

// --- The catalogue of target types ---
// Each row's speed meets the simulated device of its type in BootTypeTest, whose device
// logs a byte at another speed as a violation.

// What the fake boot connection below was given.
struct FakeLoads {
    std::vector<uint32_t> starts;
    std::vector<int32_t> speedCodes;
};
FakeLoads fakeLoads;

// Reads the whole section and starts nothing: the device's flash loader runs already.
class FakeConnection : public BootConnection {
  public:
    explicit FakeConnection(ProtocolContext& context) : context_(context) {}
    Result LoadAndRun(const ParsedSection& section) override {
        fakeLoads.starts.push_back(section.start);
        return boot::UploadRecords(context_, section, [](SfldRecord&) { return Result(); });
    }

  private:
    ProtocolContext& context_;
};

std::unique_ptr<BootConnection> MakeFake(ProtocolContext& context, const BootSetup& setup) {
    fakeLoads.speedCodes.push_back(setup.speedCode);
    return std::make_unique<FakeConnection>(context);
}

TEST_F(BootSystemTest, ABootConnectionOfAnotherKindIsOneRow) {
    std::vector<TargetRow> rows = Targets().Rows();
    rows.push_back(
        {TargetType{9}, "fake boot code", false, speedcode::k19200, MakeFake, 0, true, MakeFake});
    const TargetCatalogue catalogue(rows);
    const UnionImage file(0x400, 0x200);
    fakeLoads = {};
    Start(9);
    SetImagePath(file.WriteTo(TempPath("fake-boot.bin")));
    ChooseLoader();

    UploadSequences upload(context, request, catalogue);
    result = upload.FlashUpload();
    EXPECT_TRUE(result.ok()) << ::testing::PrintToString(AllLogs());
    EXPECT_TRUE(Logged("Upload SFLD From image-union file"));
    EXPECT_TRUE(upload.Session().RecordWaitMode);
    EXPECT_EQ(model->FlashBytes(UnionImage::kMainStart, 0x400), file.main);

    result = UploadSequences(context, request, catalogue).RunImage();
    EXPECT_TRUE(result.ok());
    EXPECT_TRUE(Logged("Code started; this target gives no answer from it"));
    // The loader section, then the file's first section.
    EXPECT_EQ(fakeLoads.starts,
              (std::vector<uint32_t>{UnionImage::kSflStart, UnionImage::kPflStart}));
    EXPECT_EQ(fakeLoads.speedCodes, (std::vector<int32_t>{speedcode::k19200, speedcode::k19200}));
}

}  // namespace
