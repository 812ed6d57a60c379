#include "platform/posix/DeviceWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

constexpr uint32_t kDeviceEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

void AddOnce(std::vector<std::string>& folders, const std::string& folder) {
    if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end()) {
        folders.push_back(folder);
    }
}

}  // namespace

std::vector<std::string> DeviceWatch::FoldersFor(const std::string& devicePath,
                                                 const std::string& extraFolder) {
    std::vector<std::string> folders;
    if (!devicePath.empty()) {
        const std::string folder = FolderOf(devicePath);
        AddOnce(folders, folder);
        // A published link (a simulator, a udev alias) moves when its device re-appears; the
        // device itself lives in the target's folder. One level is followed.
        char target[PATH_MAX];
        const ssize_t length = readlink(devicePath.c_str(), target, sizeof target - 1);
        if (length > 0) {
            const std::string linked(target, static_cast<size_t>(length));
            AddOnce(folders, FolderOf(linked[0] == '/' ? linked : folder + "/" + linked));
        }
    }
    AddOnce(folders, extraFolder);
    return folders;
}

DeviceWatch::DeviceWatch(const std::vector<std::string>& folders) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    for (const std::string& folder : folders) {
        if (inotify_add_watch(fd_, folder.c_str(), kDeviceEvents) >= 0) {
            ++watches_;
        }
    }
}

DeviceWatch::~DeviceWatch() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool DeviceWatch::Drain() {
    if (fd_ < 0) {
        return false;
    }
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return changed;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & kDeviceEvents) != 0) {
                changed = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}
