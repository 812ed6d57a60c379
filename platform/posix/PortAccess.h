#pragma once
// Why a port that exists will not open, as a user needs to hear it: the programs that hold
// it (found as fuser finds them, through /proc), and for a port this user may not open, its
// group and how to join it.
#include <set>
#include <string>
#include <vector>

struct PortHolder {
    int pid = 0;
    std::string name;  // the process's command name
};

// The other processes that hold the node at path: the one whose lock keeps others out when
// there is such a lock, else every one that has it open. proc is the /proc to read.
std::vector<PortHolder> FindPortHolders(const std::string& path, const std::string& proc = "/proc");
// "held by NAME (pid N), ...", or empty when nobody was found.
std::string HoldersText(const std::vector<PortHolder>& holders);
// The device numbers of every character device that another process has open.
std::set<unsigned long long> HeldDevices(const std::string& proc = "/proc");
// The words for a node this user may not open: the node, its group and the fix.
std::string DeniedAdvice(const std::string& path);
