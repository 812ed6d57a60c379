#pragma once
// The station's command line, read with getopt_long on both platforms:
//   ostrevan-station [--repeat] [--report FILE] [--log-dir DIR] [--target N [--loader FILE]]
//                    [--wait S] IMAGE PORT...
#include <string>
#include <vector>

#include "app/Station.h"

struct StationOptions {
    StationRequest request;
    std::string reportPath;
    bool help = false;
    bool version = false;
    std::string error;  // why the command line cannot be used; empty when it can
};

// arguments: the program's arguments without its name.
StationOptions ParseStationOptions(const std::vector<std::string>& arguments);
std::string StationUsageText();
