// The program against a device played by the test on a pseudo-terminal: it greets the device
// and ends cleanly on Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string ProgramPath() {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return {};
    }
    std::string path(self, static_cast<size_t>(length));
    // build/tests/test_posix -> build/platform/posix/ostrevan-update
    path.resize(path.rfind('/'));
    path.resize(path.rfind('/'));
    return path + "/platform/posix/ostrevan-update";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class PseudoTerminalDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        const std::string slavePath = ptsname(master);
        // Held open so the master never reads as hung up while the program reopens the port.
        slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        char dir[] = "/tmp/ostrevan-pty-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        link = folder + "/port";
        ASSERT_EQ(symlink(slavePath.c_str(), link.c_str()), 0);
    }
    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(master);
        close(slave);
        if (output >= 0) {
            close(output);
        }
        unlink(link.c_str());
        rmdir(folder.c_str());
    }

    void Start(const std::string& image) {
        const std::string program = ProgramPath();
        ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        std::vector<std::string> args = {program, "/port", link, "/file", image};
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        output = pipeFds[0];
    }

    // Plays the device until the program has printed `until` and the greeting has been heard
    // in full, or the polls of 100 ms are used up; answers each greeting token.
    void Serve(const std::string& until, int limit = 300) {
        auto done = [&] {
            return shown.find(until) != std::string::npos &&
                   heard.find("KV2-8\r\n") != std::string::npos;
        };
        for (int polls = 0; polls < limit && !done(); ++polls) {
            pollfd fds[2] = {{master, POLLIN, 0}, {output, POLLIN, 0}};
            if (poll(fds, 2, 100) <= 0) {
                continue;
            }
            char buffer[256];
            if ((fds[0].revents & POLLIN) != 0) {
                const ssize_t got = read(master, buffer, sizeof buffer);
                if (got > 0) {
                    heard.append(buffer, static_cast<size_t>(got));
                    Answer();
                }
            }
            if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t got = read(output, buffer, sizeof buffer);
                if (got <= 0) {
                    return;
                }
                shown.append(buffer, static_cast<size_t>(got));
            }
        }
    }

    void Answer() {
        if (!answeredFirst && heard.find("SA-28\r\n") != std::string::npos) {
            answeredFirst = true;
            ASSERT_EQ(write(master, "SA-77 ok\r\n", 10), 10);
        }
        if (!answeredSecond && heard.find("KV2-8\r\n") != std::string::npos) {
            answeredSecond = true;
            ASSERT_EQ(write(master, "KV2-8 ok\r\n", 10), 10);
        }
    }

    // Waits for the program to end and collects the rest of what it printed.
    int Finish() {
        char buffer[256];
        for (ssize_t got; (got = read(output, buffer, sizeof buffer)) > 0;) {
            shown.append(buffer, static_cast<size_t>(got));
        }
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        pid = -1;
        return status;
    }

    int master = -1;
    int slave = -1;
    int output = -1;
    pid_t pid = -1;
    std::string folder;
    std::string link;
    std::string heard;
    std::string shown;
    bool answeredFirst = false;
    bool answeredSecond = false;
};

TEST_F(PseudoTerminalDevice, GreetsTheDeviceAndEndsCleanlyOnCtrlC) {
    Start(folder + "/no-image.bin");
    Serve("Ready to Upload.\n");
    ASSERT_NE(shown.find("Ready to Upload.\n"), std::string::npos) << shown;
    EXPECT_EQ(heard, "SA-28\r\nKV2-8\r\n");
    ASSERT_EQ(kill(pid, SIGINT), 0);
    const int status = Finish();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(shown, "Initializing...\nPort Open.\nFound Ostrevan.\nReady to Upload.\n");
    EXPECT_EQ(Count(heard, "SA-28"), 1u);
}

TEST_F(PseudoTerminalDevice, DeviceChangeWithoutALoadableImageStartsNothing) {
    Start(folder + "/no-image.bin");
    Serve("Ready to Upload.\n");
    // The device re-appears: its link is replaced, as a re-enumerated device's would be.
    const std::string fresh = folder + "/fresh";
    ASSERT_EQ(symlink(ptsname(master), fresh.c_str()), 0);
    ASSERT_EQ(rename(fresh.c_str(), link.c_str()), 0);
    Serve("Upload Starting...", 20);  // gives the program time to handle the change
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const int status = Finish();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(shown, "Initializing...\nPort Open.\nFound Ostrevan.\nReady to Upload.\n");
    EXPECT_EQ(heard, "SA-28\r\nKV2-8\r\n");  // greeted once
}

}  // namespace
