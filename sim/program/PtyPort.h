#pragma once
// The device's end of a pseudo-terminal and the symlink that names it for the host.
#include <cstdint>
#include <string>

class PtyPort {
  public:
    PtyPort() = default;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;
    ~PtyPort() { Close(); }

    // A fresh raw pseudo-terminal at 19200 baud. The device keeps its own descriptor of the
    // host's side, so that the host closing and opening its port never hangs up the device.
    bool Open(std::string& error);
    void Close();
    int Master() const { return master_; }
    const std::string& HostPath() const { return hostPath_; }
    // The speed the host set on its side, in baud (0 when unknown).
    uint32_t HostBaud() const;
    // Bytes the device wrote that the host has not read yet.
    int Unread() const;

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string hostPath_;
};

// Publishes a symlink in one step: the link is made in a staging folder beside it and
// renamed into place, so a watcher of the link's folder sees one change.
class LinkPublisher {
  public:
    explicit LinkPublisher(std::string link) : link_(std::move(link)) {}
    ~LinkPublisher();
    bool Publish(const std::string& target, std::string& error);
    void Withdraw();

  private:
    std::string link_;
    std::string stage_;
    bool published_ = false;
};
