#pragma once
// The command line of ostrevan-sim.
#include <cstdint>
#include <string>

#include "sim/DeviceConfig.h"

struct SimOptions {
    std::string link;  // the symlink that names the device's port
    DeviceConfig device;
    // Line rate the pseudo-terminal is throttled to: 0 follows the speed the host set on its
    // side; -1 does not throttle.
    int64_t rate = 0;
    std::string dumpPath;        // flash contents, at exit and on SIGUSR1
    std::string ramDumpPath;     // the memory bytes code was loaded into, at exit and on SIGUSR1
    std::string transcriptPath;  // "-" is standard error
    bool help = false;
};

extern const char* const kSimUsage;

// Fills options from argv; false with a message in error on a bad command line.
bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);
