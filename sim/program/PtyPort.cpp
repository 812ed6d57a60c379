#include "sim/program/PtyPort.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

bool PtyPort::Open(std::string& error) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    const char* name = ptsname(master_);
    hostPath_ = name ? name : "";
    slave_ = name ? open(name, O_RDWR | O_NOCTTY) : -1;
    termios settings;
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) {
        error = "host side of " + hostPath_ + ": " + std::strerror(errno);
        Close();
        return false;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B19200);
    cfsetospeed(&settings, B19200);
    if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
        error = "raw mode of " + hostPath_ + ": " + std::strerror(errno);
        Close();
        return false;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

void PtyPort::Close() {
    if (master_ >= 0) {
        close(master_);
    }
    if (slave_ >= 0) {
        close(slave_);
    }
    master_ = slave_ = -1;
}

int PtyPort::Unread() const {
    int count = 0;
    return slave_ >= 0 && ioctl(slave_, TIOCINQ, &count) == 0 ? count : 0;
}

uint32_t PtyPort::HostBaud() const {
    // On the master, the terminal settings are those of the host's side.
    termios settings;
    if (master_ < 0 || tcgetattr(master_, &settings) != 0) {
        return 0;
    }
    switch (cfgetospeed(&settings)) {
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

LinkPublisher::~LinkPublisher() {
    Withdraw();
    if (!stage_.empty()) {
        rmdir(stage_.c_str());
    }
}

bool LinkPublisher::Publish(const std::string& target, std::string& error) {
    if (stage_.empty()) {
        const size_t slash = link_.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : link_.substr(0, slash);
        std::string pattern = folder + "/.ostrevan-sim.XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data())) {
            error = "staging folder in " + folder + ": " + std::strerror(errno);
            return false;
        }
        stage_ = buffer.data();
    }
    const std::string staged = stage_ + "/link";
    unlink(staged.c_str());
    if (symlink(target.c_str(), staged.c_str()) != 0 ||
        rename(staged.c_str(), link_.c_str()) != 0) {
        error = "publishing " + link_ + ": " + std::strerror(errno);
        unlink(staged.c_str());
        return false;
    }
    published_ = true;
    return true;
}

void LinkPublisher::Withdraw() {
    if (published_) {
        unlink(link_.c_str());
        published_ = false;
    }
}
