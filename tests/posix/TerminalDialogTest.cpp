#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "platform/posix/DeviceWatch.h"
#include "platform/posix/DialogLoop.h"
#include "platform/posix/TerminalView.h"

namespace {

TEST(TerminalViewTest, PlainOutputPrintsNewStatusLinesAndProgressByTens) {
    std::ostringstream out;
    TerminalView view(out, false);
    view.Show();
    // The erase and the programming share their text; between stages the status is empty
    // or a bare percentage.
    for (const char* line :
         {"", "Initializing...", "Port Open.", "Port Open.", "FLASH Programming 25%",
          "FLASH Programming 50%", "", "FLASH Programming", "FLASH Programming 3%",
          "FLASH Programming 9%", "FLASH Programming 10%", "FLASH Programming 19%", " 100%", "7%",
          "At 99%", "At 99%", "100% sure", "Uploading Complete."}) {
        view.SetStatusLine(line);
        view.SetProgressPosition(500);  // the bar is not drawn without a panel
    }
    view.ShowErrorBox("Upload Failed.  Please try again.", "Error");
    EXPECT_EQ(out.str(),
              "Initializing...\nPort Open.\nFLASH Programming 25%\nFLASH Programming 50%\n"
              "FLASH Programming\nFLASH Programming 3%\nFLASH Programming 10%\nAt 99%\n"
              "100% sure\nUploading Complete.\nError: Upload Failed.  Please try again.\n");
}

TEST(TerminalViewTest, PanelIsRedrawnInPlace) {
    std::ostringstream out;
    TerminalView view(out, true);
    view.SetStatusLine("Initializing...");
    EXPECT_EQ(out.str(), "");  // nothing is drawn before the dialog is first shown
    view.Show();
    const std::string first = out.str();
    EXPECT_NE(first.find(TerminalView::kTitle), std::string::npos);
    EXPECT_NE(first.find("Initializing..."), std::string::npos);
    EXPECT_NE(first.find(TerminalView::kWarning), std::string::npos);
    EXPECT_EQ(first.find("\x1b[4A"), std::string::npos);

    view.SetStatusLine(std::string(200, 'x'));
    const std::string second = out.str().substr(first.size());
    EXPECT_EQ(second.rfind("\x1b[4A", 0), 0u);  // back up over the panel before redrawing
    EXPECT_NE(second.find(std::string(TerminalView::kLineWidth, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(second.find(std::string(TerminalView::kLineWidth + 1, 'x')), std::string::npos);

    view.Finish();
    EXPECT_EQ(out.str().back(), '\n');
}

TEST(TerminalViewTest, ProgressBarFollowsRangeAndPosition) {
    struct Case {
        int32_t minimum, maximum, position;
        int filled;
    };
    const Case cases[] = {
        {0, 100, 0, 0},      {0, 100, 50, 25},   {1, 1000, 1, 0},     {1, 1000, 0, 0},
        {1, 1000, 1000, 50}, {1, 1000, 455, 22}, {1, 1000, 5000, 50}, {5, 5, 5, 0},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        TerminalView view(out, true);
        view.SetProgressRange(c.minimum, c.maximum);
        view.SetProgressPosition(c.position);
        const std::string expected = "[" + std::string(c.filled, '#') +
                                     std::string(TerminalView::kBarWidth - c.filled, '.') + "]";
        EXPECT_EQ(view.ProgressBar(), expected)
            << c.minimum << ".." << c.maximum << " at " << c.position;
    }
}

TEST(DialogLoopTest, KeysThatClose) {
    struct Case {
        std::string bytes;
        bool closes;
    };
    const Case cases[] = {
        {"\x1b", true},    {"\x03", true},    {"\r", false},    {"\n", false},       {"q", false},
        {"\x1b[A", false}, {"\x1bOP", false}, {"ab\x1b", true}, {"\x1b\x1b[", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DialogLoop::ClosesDialog(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                           c.bytes.size()),
                  c.closes)
            << testing::PrintToString(c.bytes);
    }
}

TEST(DialogLoopTest, ADialogClosedWhileCreatedIsNeverDrawn) {
    std::ostringstream out;
    TerminalView panel(out, true);
    VirtualClock clock;
    bool destroyed = false;
    DialogHandlers handlers;
    handlers.onInit = [&] {
        panel.SetStatusLine("Image file not found: x");
        panel.ShowErrorBox("Image file not found: x", "Error");
        panel.Close();
    };
    handlers.onTimer = [] {};
    handlers.onDeviceChange = [] {};
    handlers.onDestroy = [&] { destroyed = true; };
    DialogLoop loop(panel, clock, -1, nullptr, nullptr);
    loop.Run(handlers);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(out.str(), "Error: Image file not found: x\n");
}

// Runs the loop with the given handlers; a timer stops a loop that would otherwise not end.
class LoopTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(pipe(keys), 0); }
    void TearDown() override {
        close(keys[0]);
        if (keys[1] >= 0) {
            close(keys[1]);
        }
    }
    void Press(const std::string& bytes) {
        ASSERT_EQ(write(keys[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void Run(DeviceWatch* watch, CloseSignals* signals) {
        DialogHandlers handlers;
        handlers.onInit = [&] {
            calls.push_back("init");
            view.StartTimer(5);
            if (onInit) {
                onInit();
            }
        };
        handlers.onTimer = [&] {
            ++ticks;
            if (onTick) {
                onTick();
            }
            if (ticks >= kGiveUp) {
                view.Close();
            }
        };
        handlers.onDeviceChange = [&] {
            calls.push_back("device");
            view.Close();
        };
        handlers.onDestroy = [&] { calls.push_back("destroy"); };
        DialogLoop loop(view, clock, keys[0], watch, signals);
        loop.Run(handlers);
    }

    static constexpr int kGiveUp = 400;
    int keys[2] = {-1, -1};
    std::ostringstream out;
    TerminalView view{out, false};
    VirtualClock clock;
    std::vector<std::string> calls;
    int ticks = 0;
    std::function<void()> onInit;
    std::function<void()> onTick;
};

TEST_F(LoopTest, EnterDoesNotCloseButEscapeDoes) {
    onInit = [&] { Press("\r\n"); };
    onTick = [&] {
        if (ticks == 2) {
            Press("\x1b");
        }
    };
    Run(nullptr, nullptr);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"init", "destroy"}));
}

TEST_F(LoopTest, EndOfInputLeavesTheDialogOpen) {
    close(keys[1]);
    keys[1] = -1;
    onTick = [&] {
        if (ticks == 3) {
            view.Close();
        }
    };
    Run(nullptr, nullptr);
    EXPECT_EQ(ticks, 3);
}

TEST_F(LoopTest, StoppedTimerDoesNotTick) {
    onTick = [&] {
        view.StopTimer();
        Press("\x03");
    };
    Run(nullptr, nullptr);
    EXPECT_EQ(ticks, 1);
}

TEST_F(LoopTest, TerminateSignalClosesLikeTheCloseBox) {
    CloseSignals signals;
    onInit = [&] { kill(getpid(), SIGTERM); };  // held back until the loop waits
    Run(nullptr, &signals);
    EXPECT_LT(ticks, kGiveUp);
    EXPECT_EQ(calls, (std::vector<std::string>{"init", "destroy"}));
}

TEST_F(LoopTest, FolderChangeRaisesDeviceChangeOnTheLoopThread) {
    char folder[] = "/tmp/ostrevan-watch-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string port = std::string(folder) + "/port";
    DeviceWatch watch(DeviceWatch::FoldersFor(port, ""));
    ASSERT_EQ(watch.WatchCount(), 1u);
    onInit = [&] { ASSERT_EQ(symlink("/dev/null", port.c_str()), 0); };
    Run(&watch, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"init", "device", "destroy"}));
    EXPECT_FALSE(watch.Drain());
    unlink(port.c_str());
    rmdir(folder);
}

TEST(DeviceWatchTest, FoldersFollowOneLinkLevel) {
    char folder[] = "/tmp/ostrevan-link-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string base = folder;
    ASSERT_EQ(mkdir((base + "/pts").c_str(), 0700), 0);
    ASSERT_EQ(symlink("pts/7", (base + "/relative").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", (base + "/absolute").c_str()), 0);
    struct Case {
        std::string path;
        std::vector<std::string> folders;
    };
    const Case cases[] = {
        {"/dev/ttyS0", {"/dev"}},
        {base + "/relative", {base, base + "/pts", "/dev"}},
        {base + "/absolute", {base, "/dev"}},
        {base + "/missing", {base, "/dev"}},
        {"", {"/dev"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeviceWatch::FoldersFor(c.path, "/dev"), c.folders) << c.path;
    }
    unlink((base + "/relative").c_str());
    unlink((base + "/absolute").c_str());
    rmdir((base + "/pts").c_str());
    rmdir(folder);
}

TEST(DeviceWatchTest, CreateAttributeMoveAndDeleteAreChanges) {
    char folder[] = "/tmp/ostrevan-events-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string base = folder;
    DeviceWatch watch({base});
    ASSERT_GE(watch.Fd(), 0);
    EXPECT_FALSE(watch.Drain());
    const std::string a = base + "/a";
    const std::string b = base + "/b";
    std::ofstream(a).put('x');
    EXPECT_TRUE(watch.Drain());
    std::ofstream(a, std::ios::app).put('y');  // a write is no device change
    EXPECT_FALSE(watch.Drain());
    ASSERT_EQ(chmod(a.c_str(), 0600), 0);
    EXPECT_TRUE(watch.Drain());
    ASSERT_EQ(rename(a.c_str(), b.c_str()), 0);
    EXPECT_TRUE(watch.Drain());
    ASSERT_EQ(unlink(b.c_str()), 0);
    EXPECT_TRUE(watch.Drain());
    rmdir(folder);
}

}  // namespace

namespace {

TEST(KeyboardModeTest, KeysComeOneByOneUnechoedAndTheTerminalIsRestored) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(terminal, &before), 0);
    ASSERT_NE(before.c_lflag & ICANON, 0u);
    {
        KeyboardMode keys(terminal);
        termios during{};
        ASSERT_EQ(tcgetattr(terminal, &during), 0);
        EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_NE(during.c_lflag & ISIG, 0u);  // Ctrl-C still raises SIGINT
        EXPECT_EQ(during.c_cc[VMIN], 1);
    }
    termios after{};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    KeyboardMode none(-1);  // no keyboard: nothing to change or restore
    close(terminal);
    close(master);
}

}  // namespace
