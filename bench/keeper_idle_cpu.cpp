// Prints how much of one core the port keeper and an open, idle port use: the keeper's
// 300 ms cycle, the writer's 300 ms line poll and a reader blocked in poll().
//   keeper_idle_cpu [seconds]   (default 10)
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/Clock.h"
#include "engine/Locked.h"
#include "platform/posix/PosixSerialDevice.h"
#include "serial/PortKeeper.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    const std::string name = std::string("COM") + ::ttyname(slave);

    LockedValue32 stop{0};
    PosixSerialDevice device;
    PortKeeper keeper(ProcessClock(), stop, device);
    keeper.RequestPortName(name);
    std::thread thread([&] { keeper.ThreadMain(); });
    while (keeper.port.IsOpen() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = CpuSeconds() - cpuStart;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

    stop.Set(1);
    thread.join();
    std::printf("port keeper with open idle port %s: %.3f%% of one core (%.4f s CPU in %.1f s)\n",
                name.c_str(), 100.0 * cpu / wall, cpu, wall);
    ::close(master);
    ::close(slave);
    return 0;
}
