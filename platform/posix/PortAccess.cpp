#include "platform/posix/PortAccess.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

bool IsNumber(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

std::string CommandName(const std::string& proc, int pid) {
    std::ifstream in(proc + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? "?" : name;
}

// Calls seen(pid, device) for every character device another process has open.
void ForEachHeldDevice(const std::string& proc,
                       const std::function<void(int, unsigned long long)>& seen) {
    DIR* processes = ::opendir(proc.c_str());
    if (processes == nullptr) {
        return;
    }
    const int self = static_cast<int>(::getpid());
    while (const dirent* process = ::readdir(processes)) {
        if (!IsNumber(process->d_name) || std::atoi(process->d_name) == self) {
            continue;
        }
        const std::string fdFolder = proc + "/" + process->d_name + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr) {
            continue;  // gone meanwhile, or another user's that we may not read
        }
        while (const dirent* fd = ::readdir(fds)) {
            struct stat info {};
            if (IsNumber(fd->d_name) && ::stat((fdFolder + "/" + fd->d_name).c_str(), &info) == 0 &&
                S_ISCHR(info.st_mode)) {
                seen(std::atoi(process->d_name), info.st_rdev);
            }
        }
        ::closedir(fds);
    }
    ::closedir(processes);
}

// The process holding a lock on the node: the lines of /proc/locks are
// "N: FLOCK ADVISORY WRITE PID MAJ:MIN:INODE START END", the numbers of the device in hex.
int LockHolder(const std::string& proc, const struct stat& node) {
    std::ifstream locks(proc + "/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        fields >> number >> kind;
        if (kind == "->") {
            continue;  // a process waiting for the lock, not holding it
        }
        fields >> mode >> access >> pid >> file;
        unsigned int major = 0;
        unsigned int minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            major == ::major(node.st_dev) && minor == ::minor(node.st_dev) &&
            inode == node.st_ino) {
            const int holder = std::atoi(pid.c_str());
            if (holder > 0 && holder != static_cast<int>(::getpid())) {
                return holder;
            }
        }
    }
    return 0;
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& path, const std::string& proc) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0) {
        return {};
    }
    if (const int locker = LockHolder(proc, node)) {
        return {{locker, CommandName(proc, locker)}};
    }
    std::vector<PortHolder> holders;
    ForEachHeldDevice(proc, [&](int pid, unsigned long long device) {
        if (device == node.st_rdev && (holders.empty() || holders.back().pid != pid)) {
            holders.push_back({pid, CommandName(proc, pid)});
        }
    });
    return holders;
}

std::string HoldersText(const std::vector<PortHolder>& holders) {
    std::string text;
    for (const PortHolder& holder : holders) {
        text += (text.empty() ? "held by " : ", ") + holder.name + " (pid " +
                std::to_string(holder.pid) + ")";
    }
    return text;
}

std::set<unsigned long long> HeldDevices(const std::string& proc) {
    std::set<unsigned long long> devices;
    ForEachHeldDevice(proc, [&](int, unsigned long long device) { devices.insert(device); });
    return devices;
}

std::string DeniedAdvice(const std::string& path) {
    char resolved[PATH_MAX];
    const std::string node = ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
    const std::string shown = node == path ? node : path + " (" + node + ")";
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0) {
        return shown + ": permission denied";
    }
    const group* owners = ::getgrgid(info.st_gid);
    const std::string group = owners != nullptr ? owners->gr_name : std::to_string(info.st_gid);
    // Joining the group helps only where the group may read and write it.
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && info.st_gid != 0) {
        return shown + ": permission denied; the port belongs to the group " + group +
               ". Add yourself to the group " + group + ": sudo usermod -aG " + group +
               " $USER, then log in again";
    }
    const passwd* owner = ::getpwuid(info.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return shown + ": permission denied; only its owner " +
           (owner != nullptr ? std::string(owner->pw_name) : std::to_string(info.st_uid)) +
           " may open it (group " + group + ", mode " + mode + ")";
}
