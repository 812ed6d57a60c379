// The modal dialog under the Win32 window manager (Wine in CI), driven by its messages from
// another thread with a fake engine behind it.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/EngineApi.h"
#include "engine/Clock.h"
#include "platform/win32/Win32Dialog.h"
#include "platform/win32/resource.h"

namespace {

constexpr const char* kTitle = "KV3/4 Application Update";
constexpr int kWindowWaitMs = 10000;

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The engine as the dialog sees it; the test thread sets what it reports.
class FakeEngine : public EngineApi {
  public:
    FakeEngine() : threadsStarted(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~FakeEngine() override { CloseHandle(threadsStarted); }

    Result CheckImage(const std::string& path) override {
        Record("CheckImage " + path);
        return imageProblem.empty() ? Result()
                                    : Result::Failure(Result::Code::ImageUnusable, imageProblem);
    }
    void StartThreads() override {
        Record("StartThreads");
        SetEvent(threadsStarted);
    }
    Result OpenPort(const std::string& name) override {
        Record("OpenPort " + name);
        return {};
    }
    bool IsPortReady() override { return true; }
    void PutByte(uint8_t byte) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sent.push_back(static_cast<char>(byte));
    }
    bool GetByte(uint8_t&) override { return false; }
    Result LoadImage(const std::string& path) override {
        Record("LoadImage " + path);
        return {};
    }
    Result StartUpload() override {
        Record("StartUpload");
        return {};
    }
    UploadState GetState() override { return state.load(); }
    uint16_t GetProgress() override { return progress.load(); }
    std::string GetStatusText() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return statusText;
    }
    void Shutdown() override { Record("Shutdown"); }
    bool IsRequestRunning() override { return false; }
    PortReport DescribePort(const std::string&) override {
        return {PortCondition::Ready, "", "", ""};
    }
    void CheckDevice() override {}
    uint32_t PortGeneration() override { return 1; }
    // As on Windows: a device-change notification is the only hint of a re-appearance.
    bool TellsReplacedDevice() override { return false; }
    bool ProgrammingRan() override { return false; }
    Result LastResult() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return failureReason.empty() ? Result()
                                     : Result::Failure(Result::Code::EraseFailed, failureReason);
    }

    void SetStatus(const std::string& text, uint16_t value, UploadState newState,
                   const std::string& reason = "") {
        std::lock_guard<std::mutex> lock(mutex_);
        statusText = text;
        failureReason = reason;
        progress.store(value);
        state.store(newState);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls;
    }
    std::string Sent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent;
    }

    HANDLE threadsStarted;
    std::string imageProblem;
    std::atomic<UploadState> state{UploadState::Idle};
    std::atomic<uint16_t> progress{0};

  private:
    void Record(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls.push_back(call);
    }
    std::mutex mutex_;
    std::vector<std::string> calls;
    std::string sent;
    std::string statusText;
    std::string failureReason;
};

// A visible window of this process: ctest runs other test processes with the same dialog
// at the same time.
HWND FindOwnWindow(const char* className, const char* title) {
    for (HWND window = FindWindowExA(nullptr, nullptr, className, title); window != nullptr;
         window = FindWindowExA(nullptr, window, className, title)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

HWND WaitForWindow(const char* className, const char* title) {
    for (int waited = 0; waited < kWindowWaitMs; waited += 10) {
        if (HWND window = FindOwnWindow(className, title)) {
            return window;
        }
        Sleep(10);
    }
    return nullptr;
}

std::string StatusOf(HWND dialog) {
    return TextOf(GetDlgItem(dialog, IDC_STATUS));
}

class ModalDialogTest : public ::testing::Test {
  protected:
    // Runs the dialog on this thread while script drives it from another; returns when the
    // dialog has closed.
    template <typename Script>
    void Run(Script script) {
        std::thread driver([&] {
            ASSERT_EQ(WaitForSingleObject(engine.threadsStarted, kWindowWaitMs), WAIT_OBJECT_0);
            HWND dialog = WaitForWindow("#32770", kTitle);
            ASSERT_NE(dialog, nullptr);
            script(dialog);
            // A script that failed half-way must not leave the dialog (or its box) open.
            if (::testing::Test::HasFailure()) {
                if (HWND box = FindOwnWindow("#32770", "Error")) {
                    PostMessageA(box, WM_COMMAND, IDOK, 0);
                }
                PostMessageA(dialog, WM_CLOSE, 0, 0);
            }
        });
        RunUpdateDialog(GetModuleHandleA(nullptr), engine, clock, "COM3", "C:\\fw.bin");
        driver.join();
    }

    FakeEngine engine;
    VirtualClock clock;
};

TEST_F(ModalDialogTest, GreetsUploadsFollowsProgressAndClosesItself) {
    Run([&](HWND dialog) {
        EXPECT_EQ(StatusOf(dialog), "Ready to Upload.");
        EXPECT_EQ(engine.Sent(), "SA-28\r\nKV2-8\r\n");

        SendMessageA(dialog, WM_DEVICECHANGE, 0x0007, 0);
        EXPECT_EQ(StatusOf(dialog), "Upload Starting...");

        engine.SetStatus("FLASH Programming", 455, UploadState::Running);
        SendMessageA(dialog, WM_TIMER, Win32DialogView::kTimerId, 0);
        EXPECT_EQ(StatusOf(dialog), "FLASH Programming 45%");
        HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
        EXPECT_EQ(SendMessageA(progress, PBM_GETPOS, 0, 0), 455);
        EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, TRUE, 0), 1);
        EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, FALSE, 0), 1000);

        // The dialog's own 250 ms timer sees completion and closes the window.
        engine.SetStatus("", 1000, UploadState::Succeeded);
    });
    const std::vector<std::string> expected = {
        "CheckImage C:\\fw.bin", "StartThreads", "OpenPort COM3", "OpenPort COM3",
        "LoadImage C:\\fw.bin",  "StartUpload",  "Shutdown"};
    EXPECT_EQ(engine.Calls(), expected);
}

int IconWidth(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return 0;
    }
    BITMAP bitmap{};
    GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST_F(ModalDialogTest, Icon128IsTheLargeSmallAndDragIcon) {
    Run([&](HWND dialog) {
        HICON large = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
        HICON small = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
        ASSERT_NE(large, nullptr);
        ASSERT_NE(small, nullptr);
        EXPECT_EQ(IconWidth(large), GetSystemMetrics(SM_CXICON));
        EXPECT_EQ(IconWidth(small), GetSystemMetrics(SM_CXSMICON));
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0)), large);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    });
}

TEST_F(ModalDialogTest, CloseBoxEndsTheDialogAndShutsTheEngineDown) {
    Run([&](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); });
    const std::vector<std::string> expected = {"CheckImage C:\\fw.bin", "StartThreads",
                                               "OpenPort COM3", "Shutdown"};
    EXPECT_EQ(engine.Calls(), expected);
}

TEST_F(ModalDialogTest, EscapeEndsTheDialog) {
    Run([&](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(engine.Calls().back(), "Shutdown");
}

// The dialog closes itself from its init handler: the box says why, nothing else starts, and
// the window is never shown.
TEST_F(ModalDialogTest, ARefusedImageShowsItsProblemAndCloses) {
    engine.imageProblem = "Image file not found: C:\\fw.bin";
    std::thread driver([&] {
        HWND box = WaitForWindow("#32770", "Error");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), engine.imageProblem);
        EXPECT_EQ(FindOwnWindow("#32770", kTitle), nullptr);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    const ExitStatus outcome =
        RunUpdateDialog(GetModuleHandleA(nullptr), engine, clock, "COM3", "C:\\fw.bin");
    driver.join();
    EXPECT_EQ(outcome, ExitStatus::ImageUnusable);
    EXPECT_EQ(engine.Calls(), (std::vector<std::string>{"CheckImage C:\\fw.bin", "Shutdown"}));
}

TEST_F(ModalDialogTest, FailedUploadShowsTheErrorBoxThenCloses) {
    Run([&](HWND dialog) {
        SendMessageA(dialog, WM_DEVICECHANGE, 0x0007, 0);
        engine.SetStatus("ERROR: flash erase FAILED", 300, UploadState::Failed,
                         "ERROR: flash erase FAILED");
        HWND box = WaitForWindow("#32770", "Error");
        ASSERT_NE(box, nullptr);
        // The box says why, under the dialog's own words.
        EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)),
                  "Upload Failed.  Please try again.\n\nERROR: flash erase FAILED");
        EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
        EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(engine.Calls().back(), "Shutdown");
}

}  // namespace
