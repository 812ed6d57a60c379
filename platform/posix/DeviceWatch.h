#pragma once
// Device-change notifications for the terminal dialog: inotify on the folder that holds the
// port's device path (and, when that path is a symbolic link, on the folder of its target)
// and on /dev. Any entry created, deleted, moved or changed in its attributes there counts
// as a device change, as WM_DEVICECHANGE does for any device on Windows.
#include <string>
#include <vector>

class DeviceWatch {
  public:
    // The folders watched for devicePath; extraFolder (normally /dev) is added when not empty.
    static std::vector<std::string> FoldersFor(const std::string& devicePath,
                                               const std::string& extraFolder);

    explicit DeviceWatch(const std::vector<std::string>& folders);
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // The descriptor to poll; -1 when inotify is not available.
    int Fd() const { return fd_; }
    size_t WatchCount() const { return watches_; }
    // Reads every queued notification without blocking; true when any of them was a device
    // change, so a burst of them raises the handler once.
    bool Drain();

  private:
    int fd_ = -1;
    size_t watches_ = 0;
};
