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
    // Permissions of each published pseudo-terminal's node (-1: as the system made it), and
    // how long a re-appeared one keeps 0600 first, as a node whose group udev sets late.
    int nodeMode = -1;
    uint32_t nodeLateMs = 0;
    int nodeGroup = -1;  // the group each node is given (-1: as the system made it)
    bool help = false;
};

extern const char* const kSimUsage;

// Fills options from argv; false with a message in error on a bad command line.
bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);
