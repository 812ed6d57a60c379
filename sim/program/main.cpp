// ostrevan-sim: the simulated device on a pseudo-terminal, for system tests and
// demonstrations without hardware.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>

#include "sim/DeviceModel.h"
#include "sim/SimText.h"
#include "sim/Transcript.h"
#include "sim/program/Options.h"
#include "sim/program/PtyPort.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int number) {
    const char c = static_cast<char>(number);
    const ssize_t written = write(signalPipe[1], &c, 1);
    (void)written;
}

void CatchSignals() {
    if (pipe(signalPipe) != 0) {
        return;
    }
    fcntl(signalPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGUSR1}) {
        sigaction(number, &action, nullptr);
    }
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}

uint64_t NowNs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

constexpr uint64_t kNsPerMs = 1000000;
// How late a wake-up may come after the line fell free and still continue the line's timing.
constexpr uint64_t kCatchUpNs = 2 * kNsPerMs;
constexpr uint64_t kLeaveNs = 1000 * kNsPerMs;  // longest wait for the host to read
// The kernel hands written bytes to the host's side a moment later; until then they do not
// show as unread.
constexpr uint64_t kSettleNs = 50 * kNsPerMs;

struct TimedByte {
    uint8_t value;
    uint64_t atNs;
};

class SimProgram {
  public:
    explicit SimProgram(const SimOptions& options)
        : options_(options), model_(options.device), publisher_(options.link), startNs_(NowNs()) {}

    int Run();

  private:
    uint64_t Ms(uint64_t ns) const { return (ns - startNs_ + kNsPerMs - 1) / kNsPerMs; }
    uint64_t ByteNs() const;
    bool OpenPort();
    void ReadHost(uint64_t nowNs);
    void FeedModel(uint64_t nowNs);
    void WriteHost(uint64_t nowNs);
    int PollTimeoutMs(uint64_t nowNs) const;
    void Dump();
    void Summary();
    void FlushTranscript(bool all);

    const SimOptions& options_;
    DeviceModel model_;
    PtyPort port_;
    LinkPublisher publisher_;
    uint64_t startNs_;
    std::deque<TimedByte> fromHost_;  // read from the pseudo-terminal, arriving at atNs
    std::deque<TimedByte> toHost_;    // the device's answers, leaving at atNs
    uint64_t rxFreeNs_ = 0;
    uint64_t txFreeNs_ = 0;
    uint32_t reappearances_ = 0;
    bool gone_ = false;
    uint64_t unpluggedNs_ = 0;
    uint64_t lastWriteNs_ = 0;
    bool writeBlocked_ = false;   // the host's side is full: wait until it can take more
    uint64_t nodeModeDueNs_ = 0;  // when the node gets --node-mode (0: it has it)
    Transcript transcript_;
    FILE* transcriptFile_ = nullptr;
};

uint64_t SimProgram::ByteNs() const {
    if (options_.rate < 0) {
        return 0;
    }
    uint64_t baud = static_cast<uint64_t>(options_.rate);
    if (baud == 0) {
        baud = port_.HostBaud();
    }
    return baud ? 10ull * 1000000000 / baud : 0;
}

bool SimProgram::OpenPort() {
    std::string error;
    if (!port_.Open(error)) {
        std::cerr << "ostrevan-sim: " << error << "\n";
        return false;
    }
    // Before the port is published: the host never sees the node with other permissions.
    if (options_.nodeGroup >= 0) {
        [[maybe_unused]] const int given = ::chown(port_.HostPath().c_str(), static_cast<uid_t>(-1),
                                                   static_cast<gid_t>(options_.nodeGroup));
    }
    if (options_.nodeMode >= 0) {
        const bool late = reappearances_ > 0 && options_.nodeLateMs > 0;
        ::chmod(port_.HostPath().c_str(), late ? 0600 : static_cast<mode_t>(options_.nodeMode));
        nodeModeDueNs_ = late ? NowNs() + options_.nodeLateMs * kNsPerMs : 0;
    }
    if (!publisher_.Publish(port_.HostPath(), error)) {
        std::cerr << "ostrevan-sim: " << error << "\n";
        return false;
    }
    std::cerr << "ostrevan-sim: " << options_.link << " -> " << port_.HostPath() << "\n";
    return true;
}

// Takes from the pseudo-terminal no more than the line would have carried by now, so the
// host's transmit queue drains at the line rate.
void SimProgram::ReadHost(uint64_t nowNs) {
    if (gone_ || rxFreeNs_ > nowNs) {
        return;
    }
    const uint64_t byteNs = ByteNs();
    uint8_t buffer[256];
    const size_t room = byteNs ? std::clamp<uint64_t>(20 * kNsPerMs / byteNs, 1, 256) : 256;
    const ssize_t n = read(port_.Master(), buffer, room);
    // This wake-up comes a little after the line fell free (poll's whole milliseconds and the
    // scheduler). When the line fell free only just now, the waiting bytes follow on from that
    // moment, so the delay is not lost again on every chunk; after a longer pause they start now.
    const uint64_t lineStart = nowNs - rxFreeNs_ <= kCatchUpNs ? rxFreeNs_ : nowNs;
    for (ssize_t i = 0; i < n; ++i) {
        rxFreeNs_ = std::max(rxFreeNs_, lineStart) + byteNs;
        fromHost_.push_back({buffer[i], rxFreeNs_});
    }
}

void SimProgram::FeedModel(uint64_t nowNs) {
    const uint32_t baud = port_.HostBaud();
    const int32_t speed = baud ? DeviceModel::CodeOfBaud(baud) : model_.SpeedCode();
    while (!fromHost_.empty() && fromHost_.front().atNs <= nowNs) {
        const TimedByte byte = fromHost_.front();
        // Bytes read here came through the port the device had before it re-appeared: one that
        // arrives after the re-appearance went to a port that is going away, and must not reach
        // the loader that now answers on the new one.
        model_.Advance(Ms(byte.atNs));
        if (model_.Counters().reappearances != reappearances_) {
            fromHost_.clear();
            break;
        }
        fromHost_.pop_front();
        transcript_.Add(true, byte.value, Ms(byte.atNs));
        model_.Receive(byte.value, speed, Ms(byte.atNs));
    }
    model_.Advance(Ms(nowNs));
    for (const OutByte& out : model_.TakeOutput()) {
        transcript_.Add(false, out.value, out.atMs);
        toHost_.push_back({out.value, startNs_ + out.atMs * kNsPerMs});
    }
}

void SimProgram::WriteHost(uint64_t nowNs) {
    const uint64_t byteNs = ByteNs();
    uint8_t buffer[256];
    size_t n = 0;
    while (!toHost_.empty() && n < sizeof buffer) {
        const uint64_t start = std::max(toHost_.front().atNs, txFreeNs_);
        if (start > nowNs) {
            break;
        }
        txFreeNs_ = start + byteNs;
        buffer[n++] = toHost_.front().value;
        toHost_.pop_front();
    }
    if (n == 0 || gone_) {
        return;
    }
    // What the pseudo-terminal cannot take yet goes out as soon as it can.
    const ssize_t written = write(port_.Master(), buffer, n);
    lastWriteNs_ = nowNs;
    writeBlocked_ = written < static_cast<ssize_t>(n);
    for (size_t i = n; i > static_cast<size_t>(std::max<ssize_t>(written, 0)); --i) {
        toHost_.push_front({buffer[i - 1], nowNs});
    }
}

// Sleeps until the next thing the device has to do; -1 when only the host can wake it.
int SimProgram::PollTimeoutMs(uint64_t nowNs) const {
    uint64_t next = UINT64_MAX;
    uint64_t eventMs;
    if (model_.NextEventMs(eventMs)) {
        next = std::min(next, startNs_ + eventMs * kNsPerMs);
    }
    if (!fromHost_.empty()) {
        next = std::min(next, fromHost_.front().atNs);
    }
    if (!toHost_.empty() && !writeBlocked_) {
        next = std::min(next, std::max(toHost_.front().atNs, txFreeNs_));
    }
    if (rxFreeNs_ > nowNs) {
        next = std::min(next, rxFreeNs_);
    }
    if (nodeModeDueNs_ != 0) {
        next = std::min(next, nodeModeDueNs_);
    }
    if (unpluggedNs_ != 0 && !gone_) {
        next = std::min(next, nowNs + 10 * kNsPerMs);
    }
    if (next == UINT64_MAX) {
        return -1;
    }
    return next <= nowNs ? 0 : static_cast<int>((next - nowNs + kNsPerMs - 1) / kNsPerMs);
}

void SimProgram::Dump() {
    if (!options_.ramDumpPath.empty()) {
        std::ofstream ram(options_.ramDumpPath, std::ios::trunc);
        char line[16];
        for (const auto& [address, byte] : model_.Ram()) {
            std::snprintf(line, sizeof line, "%08X %02X\n", address, byte);
            ram << line;
        }
        if (!ram) {
            std::cerr << "ostrevan-sim: cannot write " << options_.ramDumpPath << "\n";
        }
    }
    if (options_.dumpPath.empty()) {
        return;
    }
    std::ofstream file(options_.dumpPath, std::ios::binary | std::ios::trunc);
    const std::vector<uint8_t>& cells = model_.Flash().Cells();
    file.write(reinterpret_cast<const char*>(cells.data()),
               static_cast<std::streamsize>(cells.size()));
    if (!file) {
        std::cerr << "ostrevan-sim: cannot write " << options_.dumpPath << "\n";
    }
}

void SimProgram::FlushTranscript(bool all) {
    if (!transcriptFile_) {
        return;
    }
    const std::string lines = all ? transcript_.Finish() : transcript_.TakeLines();
    std::fputs(lines.c_str(), transcriptFile_);
    std::fflush(transcriptFile_);
}

void SimProgram::Summary() {
    const DeviceCounters& c = model_.Counters();
    std::cerr << FormatText(
        "ostrevan-sim: received %llu bytes, sent %llu; connects %u; records %u "
        "(errors %u, programmed %u, loaded %u); erase ranges %u, sectors %u; "
        "unerased programs %u; program fails %u; re-appearances %u\n",
        static_cast<unsigned long long>(c.bytesReceived),
        static_cast<unsigned long long>(c.bytesSent), c.connects, c.recordsReceived, c.recordErrors,
        c.recordsProgrammed, c.recordsLoaded, c.eraseRanges, c.sectorsErased, c.unerasedPrograms,
        c.programFails, c.reappearances);
    std::cerr << "ostrevan-sim: violations: " << model_.Violations().size() << "\n";
    for (const std::string& v : model_.Violations()) {
        std::cerr << "ostrevan-sim: violation: " << v << "\n";
    }
    // What the device did of its own accord: connections made, code started.
    for (const std::string& note : model_.Notes()) {
        std::cerr << "ostrevan-sim: note: " << note << "\n";
    }
}

int SimProgram::Run() {
    if (options_.transcriptPath == "-") {
        transcriptFile_ = stderr;
    } else if (!options_.transcriptPath.empty()) {
        transcriptFile_ = std::fopen(options_.transcriptPath.c_str(), "w");
    }
    if (!OpenPort()) {
        return 1;
    }
    for (;;) {
        const uint64_t nowNs = NowNs();
        ReadHost(nowNs);
        FeedModel(nowNs);
        WriteHost(nowNs);
        FlushTranscript(false);
        if (model_.Counters().reappearances != reappearances_) {
            // The device left and came back: a new port under the same name, then the old
            // one goes away.
            reappearances_ = model_.Counters().reappearances;
            toHost_.clear();
            fromHost_.clear();
            if (!OpenPort()) {
                return 1;
            }
        }
        if (nodeModeDueNs_ != 0 && nowNs >= nodeModeDueNs_) {
            ::chmod(port_.HostPath().c_str(), static_cast<mode_t>(options_.nodeMode));
            nodeModeDueNs_ = 0;
        }
        if (model_.Unplugged() && !gone_ && unpluggedNs_ == 0) {
            unpluggedNs_ = nowNs;
        }
        // What the device sent before it left is still on the line: a hang-up would flush it.
        if (unpluggedNs_ != 0 && !gone_ &&
            ((toHost_.empty() && nowNs - lastWriteNs_ > kSettleNs && port_.Unread() == 0) ||
             nowNs - unpluggedNs_ > kLeaveNs)) {
            gone_ = true;
            publisher_.Withdraw();
            port_.Close();
            std::cerr << "ostrevan-sim: unplugged\n";
        }
        const bool reading = rxFreeNs_ <= nowNs;
        const auto portEvents =
            static_cast<short>((reading ? POLLIN : 0) | (writeBlocked_ ? POLLOUT : 0));
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {port_.Master(), portEvents, 0}};
        const nfds_t count = !gone_ && portEvents != 0 ? 2 : 1;
        if (poll(fds, count, PollTimeoutMs(nowNs)) > 0 && (fds[0].revents & POLLIN)) {
            char number;
            while (read(signalPipe[0], &number, 1) == 1) {
                if (number == SIGUSR1) {
                    Dump();
                    continue;
                }
                FlushTranscript(true);
                Dump();
                Summary();
                return 0;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(argc, argv, options, error)) {
        std::cerr << "ostrevan-sim: " << error << "\n\n" << kSimUsage;
        return 2;
    }
    if (options.help) {
        std::cout << kSimUsage;
        return 0;
    }
    CatchSignals();
    SimProgram program(options);
    return program.Run();
}
