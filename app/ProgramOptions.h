#pragma once
// The options both programs take beside /port and /file (--help, --version, /check, /log, -v,
// and the recovery's /target, /run, /loader, /wait),
// taken out of the arguments before the rest goes to the command-line parser that both share.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/ExitStatus.h"
#include "app/TargetChoice.h"
#include "serial/PortInfo.h"

// Which program reads the options. The terminal tool refuses an option it does not know; the
// Windows program ignores every token it does not know, as its callers rely on, but refuses
// what it cannot do.
enum class ProgramKind { Terminal, Window };

struct ProgramOptions {
    bool help = false;
    bool version = false;
    bool verbose = false;    // -v: the detailed log on standard error
    bool check = false;      // /check: look at the image only
    bool list = false;       // --list or /list: the serial ports, no update
    std::string logPath;     // /log FILE or --log FILE: the detailed log appended there
    std::string reportPath;  // /report FILE or --report FILE: a JSON line appended there
    // /target N, /run, /loader FILE, /wait S: recovery through the boot connections.
    TargetChoice target;
    // What is left for the shared parser (/port, /file and anything it ignores).
    std::vector<std::string> rest;
    std::string error;  // why the arguments cannot be used; empty when they can
};

ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments, ProgramKind kind);

std::string UsageText(ProgramKind kind);

// Answers what the options ask for instead of an update: the usage, the version, the image
// check, the port list (from lister), or why they cannot be used. Writes the answer to out, or
// to err for a command line that cannot be used, and returns how the program ends; nothing
// when the update is to run.
std::optional<ExitStatus> AnswerWithoutUpdate(const ProgramOptions& options, ProgramKind kind,
                                              std::ostream& out, std::ostream& err,
                                              PortLister* lister = nullptr);

// A whole decimal number from 1 to max.
bool ReadCount(const std::string& text, uint32_t max, uint32_t& value);
// The number of a target type the command line offers.
bool ReadTargetType(const std::string& text, uint32_t& value);
