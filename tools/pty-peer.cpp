// pty-peer LINK
// The far end of a serial line for tests of the Windows serial device under Wine: opens a
// pseudo-terminal, publishes its port as the symlink LINK, and echoes every byte it receives.
// An ENQ byte (0x05) is answered with the line's current rate in decimal and a line feed
// instead, so a test can see what the program set. Ends on SIGTERM or SIGINT.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

constexpr unsigned char kEnq = 0x05;

unsigned long RateOf(speed_t speed) {
    switch (speed) {
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

bool WriteAll(int fd, const unsigned char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n < 0) {
            return false;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pty-peer LINK\n");
        return 2;
    }
    const std::string link = argv[1];
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty-peer: posix_openpt");
        return 1;
    }
    const std::string slavePath = ptsname(master);
    // Held open so the line does not hang up between the program's opens.
    const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    // TCSANOW: a flush here could swallow the first bytes of a program already talking.
    tcsetattr(slave, TCSANOW, &raw);

    unlink(link.c_str());
    if (symlink(slavePath.c_str(), link.c_str()) != 0) {
        std::perror("pty-peer: symlink");
        return 1;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    unsigned char buffer[4096];
    while (stopRequested == 0) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 200) <= 0) {
            continue;
        }
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        size_t start = 0;
        for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
            if (buffer[i] != kEnq) {
                continue;
            }
            WriteAll(master, buffer + start, i - start);
            termios now{};
            tcgetattr(slave, &now);
            const std::string answer = std::to_string(RateOf(cfgetospeed(&now))) + "\n";
            WriteAll(master, reinterpret_cast<const unsigned char*>(answer.data()), answer.size());
            start = i + 1;
        }
        WriteAll(master, buffer + start, static_cast<size_t>(n) - start);
    }
    unlink(link.c_str());
    close(slave);
    close(master);
    return 0;
}
