// pty-peer LINK
// The far end of a serial line for tests of the Windows serial device under Wine: a
// pseudo-terminal published as the symlink LINK (the simulated device's own port) that echoes
// every byte it receives. An ENQ byte (0x05) is answered with the line's current rate in
// decimal and a line feed instead, so a test can see what the program set. An EOT byte (0x04)
// hangs the line up, as a device pulled out does, and publishes a fresh pseudo-terminal under
// the same link for whoever opens it next. Ends on SIGTERM or SIGINT.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

#include "sim/program/PtyPort.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

constexpr unsigned char kEnq = 0x05;
constexpr unsigned char kEot = 0x04;
constexpr int kPollMs = 200;

// The master is non-blocking: a full line is waited out rather than cut.
bool WriteAll(int fd, const unsigned char* bytes, size_t count) {
    while (count > 0 && stopRequested == 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n < 0) {
            pollfd out{fd, POLLOUT, 0};
            poll(&out, 1, kPollMs);
            continue;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return count == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pty-peer LINK\n");
        return 2;
    }
    PtyPort port;
    LinkPublisher publisher(argv[1]);
    std::string error;
    if (!port.Open(error) || !publisher.Publish(port.HostPath(), error)) {
        std::fprintf(stderr, "pty-peer: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);

    unsigned char buffer[4096];
    while (stopRequested == 0) {
        const int master = port.Master();
        pollfd in{master, POLLIN, 0};
        if (poll(&in, 1, kPollMs) <= 0) {
            continue;
        }
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        if (std::find(buffer, buffer + n, kEot) != buffer + n) {
            if (!port.Open(error) || !publisher.Publish(port.HostPath(), error)) {
                std::fprintf(stderr, "pty-peer: %s\n", error.c_str());
                return 1;
            }
            continue;
        }
        size_t start = 0;
        for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
            if (buffer[i] != kEnq) {
                continue;
            }
            WriteAll(master, buffer + start, i - start);
            const std::string answer = std::to_string(port.HostBaud()) + "\n";
            WriteAll(master, reinterpret_cast<const unsigned char*>(answer.data()), answer.size());
            start = i + 1;
        }
        WriteAll(master, buffer + start, static_cast<size_t>(n) - start);
    }
    return 0;
}
