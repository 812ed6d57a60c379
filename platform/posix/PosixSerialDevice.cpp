#include "platform/posix/PosixSerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/posix/PortAccess.h"
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace {

struct RateCode {
    uint32_t rate;
    speed_t code;
};
constexpr RateCode kRates[] = {
    {300, B300},       {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
};

bool RateToCode(uint32_t rate, speed_t& code) {
    for (const RateCode& entry : kRates) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

void SetParity(termios& tio, uint8_t parity) {
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
#ifdef CMSPAR
    tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    switch (parity) {
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
#ifdef CMSPAR
        case 3:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            break;
    }
}

bool StartsWithCom(const std::string& name) {
    return name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(name[2])) == 'M';
}

constexpr char kUsbPrefix[] = "usb:";

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

PosixSerialDevice::~PosixSerialDevice() {
    Close();
}

std::string PosixSerialDevice::DevicePath(const std::string& portName) {
    if (!StartsWithCom(portName)) {
        return "";
    }
    if (const std::string serial = UsbSerialOf(portName); !serial.empty()) {
        return kUsbPrefix + serial;
    }
    std::string rest = portName.substr(3);
    if (rest[0] == '/') {
        return rest;
    }
    if (rest.find('/') != std::string::npos) {
        // A relative path, as a user types it: from the folder the program was started in.
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            return "";
        }
        while (rest.rfind("./", 0) == 0) {
            rest.erase(0, 2);
        }
        return std::string(cwd) + "/" + rest;
    }
    if (rest.size() > 9) {
        return "";
    }
    for (char c : rest) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return "";
        }
    }
    const unsigned long number = std::strtoul(rest.c_str(), nullptr, 10);
    if (number == 0) {
        return "";
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::string PosixSerialDevice::Resolve(const std::string& devicePath) {
    if (devicePath.rfind(kUsbPrefix, 0) != 0) {
        return devicePath;
    }
    if (lister_ == nullptr) {
        return "";
    }
    return lister_->NodeOfUsbSerial(devicePath.substr(sizeof kUsbPrefix - 1));
}

bool PosixSerialDevice::PortExists(const std::string& portName) {
    const std::string path = Resolve(DevicePath(portName));
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool PosixSerialDevice::IsNotSerialPort(const std::string& portName) {
    const std::string path = DevicePath(portName);
    if (path.rfind(kUsbPrefix, 0) == 0) {
        return false;  // a USB device that is not there yet
    }
    struct stat info {};
    return path.empty() || (::stat(path.c_str(), &info) == 0 && !S_ISCHR(info.st_mode));
}

std::string PosixSerialDevice::ShownName(const std::string& portName) {
    const std::string path = DevicePath(portName);
    return path.empty() ? portName : path;
}

std::string PosixSerialDevice::Explain(const std::string& devicePath, OpenResult result) {
    const std::string node = Resolve(devicePath);
    if (node.empty()) {
        return "";
    }
    if (result == OpenResult::Denied) {
        return DeniedAdvice(node);
    }
    return result == OpenResult::Busy ? HoldersText(FindPortHolders(node)) : "";
}

std::vector<PortInfo> PosixSerialDevice::ListPorts() {
    return lister_ != nullptr ? lister_->List() : std::vector<PortInfo>();
}

bool PosixSerialDevice::NodeOf(const std::string& path, Node& node) {
    struct stat info {};
    const std::string resolved = Resolve(path);
    if (resolved.empty() || ::stat(resolved.c_str(), &info) != 0) {
        return false;
    }
    node.device = info.st_dev;
    node.inode = info.st_ino;
    node.rdev = info.st_rdev;
    return true;
}

SerialDevice::OpenResult PosixSerialDevice::Open(const std::string& devicePath) {
    const std::string node = Resolve(devicePath);
    if (node.empty()) {
        return OpenResult::Failed;
    }
    struct stat info {};
    if (::stat(node.c_str(), &info) == 0 && !S_ISCHR(info.st_mode)) {
        return OpenResult::NotSerial;
    }
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) {
            return OpenResult::Denied;
        }
        return errno == EBUSY ? OpenResult::Busy : OpenResult::Failed;
    }
    // A device without a line discipline (/dev/null, /dev/zero) takes every byte and answers
    // nothing: greeting it would report a device that is not there.
    termios line{};
    if (::tcgetattr(fd, &line) != 0 && (errno == ENOTTY || errno == EINVAL)) {
        ::close(fd);
        return OpenResult::NotSerial;
    }
    // TIOCEXCL keeps other users out, but not root; the lock keeps out every opener that
    // locks as we do.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? OpenResult::Busy : OpenResult::Failed;
    }
    ::ioctl(fd, TIOCEXCL);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        ::close(fd);
        return OpenResult::Failed;
    }
    for (int end : pipeFds) {
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    fd_ = fd;
    path_ = devicePath;
    struct stat opened {};
    ::fstat(fd, &opened);
    node_ = Node{opened.st_dev, opened.st_ino, opened.st_rdev};
    stopRead_ = pipeFds[0];
    stopWrite_ = pipeFds[1];
    haveCounters_ = ReadCounters(counters_);
#if defined(__linux__) && defined(TIOCGSERIAL)
    // A USB adapter holds received bytes up to its latency timer (16 ms on common chips)
    // before passing them on; low latency passes each at once. A pseudo-terminal, and any
    // driver without the mode, refuses the question, and nothing changes.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
        savedSerialFlags_ = serial.flags;
        serial.flags |= ASYNC_LOW_LATENCY;
        latencyChanged_ = ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
#endif
    return OpenResult::Ok;
}

void PosixSerialDevice::RestoreLatency() {
#if defined(__linux__) && defined(TIOCGSERIAL)
    serial_struct serial{};
    if (latencyChanged_ && ::ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
        serial.flags =
            (serial.flags & ~ASYNC_LOW_LATENCY) | (savedSerialFlags_ & ASYNC_LOW_LATENCY);
        ::ioctl(fd_, TIOCSSERIAL, &serial);
    }
#endif
    latencyChanged_ = false;
}

void PosixSerialDevice::Configure(const Settings& settings) {
    // Time-outs: reads wait in poll(), so the descriptor only needs a read that returns what
    // has arrived. Queue sizes: the kernel's are fixed.
    termios tio{};
    if (::tcgetattr(fd_, &tio) == 0) {
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | INPCK);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        if (settings.stopBits != 0) {
            tio.c_cflag |= CSTOPB;  // one and a half is not to be had; two is nearest
        }
        if (settings.hardwareFlow) {
            tio.c_cflag |= CRTSCTS;
        }
        SetParity(tio, settings.parity);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        speed_t code = 0;
        if (RateToCode(settings.baudRate, code)) {
            ::cfsetispeed(&tio, code);
            ::cfsetospeed(&tio, code);
        }
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    int dtr = TIOCM_DTR;
    ::ioctl(fd_, TIOCMBIC, &dtr);
    if (!settings.hardwareFlow) {
        int rts = TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIS, &rts);
    }
}

void PosixSerialDevice::SetBaudRate(uint32_t baudRate) {
    termios tio{};
    speed_t code = 0;
    if (RateToCode(baudRate, code) && ::tcgetattr(fd_, &tio) == 0) {
        ::cfsetispeed(&tio, code);
        ::cfsetospeed(&tio, code);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
}

int PosixSerialDevice::WaitPort(short events) {
    pollfd fds[2] = {{fd_, events, 0}, {stopRead_, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || fds[1].revents != 0) {
            return -1;
        }
        return fds[0].revents;
    }
}

SerialDevice::IoResult PosixSerialDevice::ReadByte(uint8_t& byte) {
    for (;;) {
        const int revents = WaitPort(POLLIN);
        if (revents < 0) {
            return IoResult::Cancelled;
        }
        if ((revents & POLLIN) == 0) {
            return IoResult::Failed;  // hang-up or error without data
        }
        const ssize_t got = ::read(fd_, &byte, 1);
        if (got == 1) {
            return IoResult::Done;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        return IoResult::Failed;
    }
}

SerialDevice::IoResult PosixSerialDevice::Write(const uint8_t* bytes, uint32_t count,
                                                uint32_t& written) {
    written = 0;
    while (written < count) {
        const ssize_t put = ::write(fd_, bytes + written, count - written);
        if (put > 0) {
            written += static_cast<uint32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && errno != EAGAIN) {
            return IoResult::Failed;
        }
        const int revents = WaitPort(POLLOUT);
        if (revents < 0) {
            return IoResult::Cancelled;
        }
        if ((revents & POLLOUT) == 0) {
            return IoResult::Failed;
        }
    }
    return IoResult::Done;
}

bool PosixSerialDevice::ReadCounters(uint32_t counters[5]) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct icount{};
    if (::ioctl(fd_, TIOCGICOUNT, &icount) != 0) {
        return false;
    }
    counters[0] = static_cast<uint32_t>(icount.brk);
    counters[1] = static_cast<uint32_t>(icount.frame);
    counters[2] = static_cast<uint32_t>(icount.overrun);
    counters[3] = static_cast<uint32_t>(icount.parity);
    counters[4] = static_cast<uint32_t>(icount.buf_overrun);
    return true;
#else
    (void)counters;
    return false;
#endif
}

SerialDevice::LineStatus PosixSerialDevice::TakeLineStatus() {
    LineStatus status;
    uint32_t now[5] = {};
    if (haveCounters_ && ReadCounters(now)) {
        constexpr uint32_t kBits[5] = {LineError::kBreak, LineError::kFrame, LineError::kOverrun,
                                       LineError::kRxParity, LineError::kRxOver};
        for (int i = 0; i < 5; ++i) {
            if (now[i] != counters_[i]) {
                status.errors |= kBits[i];
            }
            counters_[i] = now[i];
        }
    }
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) == 0 && count > 0) {
        status.inQueue = static_cast<uint32_t>(count);
    }
    count = 0;
    if (::ioctl(fd_, TIOCOUTQ, &count) == 0 && count > 0) {
        status.outQueue = static_cast<uint32_t>(count);
    }
    return status;
}

void PosixSerialDevice::Purge() {
    ::tcflush(fd_, TCOFLUSH);
    ::tcflush(fd_, TCIFLUSH);
}

bool PosixSerialDevice::IsGone() {
    pollfd fds = {fd_, 0, 0};
    if (::poll(&fds, 1, 0) > 0 && (fds.revents & (POLLHUP | POLLNVAL)) != 0) {
        return true;
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0 && (errno == EIO || errno == ENODEV || errno == EBADF)) {
        return true;
    }
    // The name gone, or standing for another node: the device left and came back (a moved
    // link, a node made anew), and the descriptor still holds the one that left.
    Node now;
    return !NodeOf(path_, now) || now.device != node_.device || now.inode != node_.inode ||
           now.rdev != node_.rdev;
}

void PosixSerialDevice::Cancel() {
    if (stopWrite_ >= 0) {
        const uint8_t stop = 1;
        // A full pipe is already readable, which is all the waits look for.
        [[maybe_unused]] const ssize_t ignored = ::write(stopWrite_, &stop, 1);
    }
}

void PosixSerialDevice::Close() {
    if (fd_ >= 0) {
        RestoreLatency();
    }
    CloseFd(fd_);
    CloseFd(stopRead_);
    CloseFd(stopWrite_);
    haveCounters_ = false;
}
