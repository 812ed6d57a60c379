#pragma once
// The terminal tool's own options, taken out of the arguments before the rest goes to the
// command-line parser that both programs share.
#include <string>
#include <vector>

extern const char* const kUsageText;

struct TerminalOptions {
    bool help = false;
    bool version = false;
    bool verbose = false;  // -v: the detailed log on standard error
    bool check = false;    // /check: look at the image only
    std::string logPath;   // /log FILE or --log FILE: the detailed log appended there
    // What is left for the shared parser (/port, /file and anything it ignores).
    std::vector<std::string> rest;
    std::string error;  // why the arguments cannot be used; empty when they can
};

TerminalOptions ParseTerminalOptions(const std::vector<std::string>& arguments);
