#include "platform/posix/DialogLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

int signalPipe[2] = {-1, -1};
constexpr int kCloseSignals[3] = {SIGTERM, SIGINT, SIGHUP};

void OnCloseSignal(int) {
    const int saved = errno;
    const char mark = 1;
    // Nothing to do when the pipe is full: a close is already waiting.
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &mark, 1);
    errno = saved;
}

}  // namespace

CloseSignals::CloseSignals() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : kCloseSignals) {
        sigaddset(&blocked, signal);
    }
    pthread_sigmask(SIG_BLOCK, &blocked, &waitMask_);
    if (pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        sigaction(kCloseSignals[i], &action, &savedActions_[i]);
    }
    // Blocked signals are still let through while the loop waits.
    for (int signal : kCloseSignals) {
        sigdelset(&waitMask_, signal);
    }
}

CloseSignals::~CloseSignals() {
    // A signal still pending is taken by this handler before the old ones come back.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : kCloseSignals) {
        sigaddset(&blocked, signal);
    }
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
    for (int i = 0; i < 3; ++i) {
        sigaction(kCloseSignals[i], &savedActions_[i], nullptr);
    }
    if (signalPipe[0] < 0) {
        return;
    }
    close(signalPipe[0]);
    close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

int CloseSignals::Fd() const {
    return signalPipe[0];
}

bool CloseSignals::Take() {
    bool any = false;
    char marks[16];
    while (signalPipe[0] >= 0 && read(signalPipe[0], marks, sizeof marks) > 0) {
        any = true;
    }
    return any;
}

KeyboardMode::KeyboardMode(int fd) : fd_(fd) {
    termios mode{};
    if (fd_ < 0 || !isatty(fd_) || tcgetattr(fd_, &mode) != 0) {
        return;
    }
    saved_ = mode;
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    changed_ = tcsetattr(fd_, TCSANOW, &mode) == 0;
}

KeyboardMode::~KeyboardMode() {
    if (changed_) {
        tcsetattr(fd_, TCSANOW, &saved_);
    }
}

bool DialogLoop::ClosesDialog(const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == kCtrlC) {
            return true;
        }
        if (bytes[i] == kEscape) {
            const bool sequence = i + 1 < count && (bytes[i + 1] == '[' || bytes[i + 1] == 'O');
            if (!sequence) {
                return true;
            }
        }
    }
    return false;
}

void DialogLoop::ReadKeys() {
    unsigned char keys[64];
    const ssize_t got = read(inputFd_, keys, sizeof keys);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
        // No keyboard (end of input, /dev/null): the dialog then ends by itself or by a signal.
        inputFd_ = -1;
        return;
    }
    if (got > 0 && ClosesDialog(keys, static_cast<size_t>(got))) {
        view_.Close();
    }
}

void DialogLoop::Run(const DialogHandlers& handlers) {
    handlers.onInit();
    // A dialog that closed itself while it was created (a refused image) is never drawn: its
    // error box stays the last thing on the terminal.
    if (!view_.CloseRequested()) {
        view_.Show();
    }
    uint32_t timerGeneration = view_.TimerGeneration();
    uint64_t nextTick = 0;
    while (!view_.CloseRequested()) {
        const uint64_t now = clock_.NowMs();
        if (view_.TimerGeneration() != timerGeneration) {
            timerGeneration = view_.TimerGeneration();
            nextTick = now + view_.TimerPeriodMs();
        }
        const bool timing = view_.TimerPeriodMs() != 0;
        int timeout = -1;
        if (timing) {
            timeout = static_cast<int>(nextTick > now ? nextTick - now : 0);
        }
        pollfd fds[3];
        nfds_t count = 0;
        const int fdList[3] = {signals_ ? signals_->Fd() : -1, inputFd_,
                               watch_ ? watch_->Fd() : -1};
        for (int fd : fdList) {
            if (fd >= 0) {
                fds[count++] = pollfd{fd, POLLIN, 0};
            }
        }
        timespec wait{timeout / 1000, (timeout % 1000) * 1000000L};
        const int ready = ppoll(fds, count, timeout < 0 ? nullptr : &wait,
                                signals_ ? signals_->WaitMask() : nullptr);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        auto readable = [&](int fd) {
            for (nfds_t i = 0; i < count; ++i) {
                if (fds[i].fd == fd && ready > 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                    return true;
                }
            }
            return false;
        };
        if (signals_ && signals_->Take()) {
            view_.Close();
            break;
        }
        if (inputFd_ >= 0 && readable(inputFd_)) {
            ReadKeys();
            if (view_.CloseRequested()) {
                break;
            }
        }
        if (watch_ && readable(watch_->Fd()) && watch_->Drain()) {
            handlers.onDeviceChange();
            if (view_.CloseRequested()) {
                break;
            }
        }
        // A tick is due when its time has come, or when the wait ran out (a clock that does
        // not move with the wait, as in tests).
        if (timing && view_.TimerPeriodMs() != 0 && view_.TimerGeneration() == timerGeneration &&
            (ready == 0 || clock_.NowMs() >= nextTick)) {
            nextTick = clock_.NowMs() + view_.TimerPeriodMs();
            handlers.onTimer();
        }
    }
    handlers.onDestroy();
    view_.Finish();
}
