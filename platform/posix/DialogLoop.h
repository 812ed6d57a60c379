#pragma once
// The terminal dialog's event loop: one thread runs the handlers, as a window's message loop
// does. It delivers the dialog's timer, device changes from a DeviceWatch and the keys and
// signals that act like the window's close box (Escape, Ctrl-C, SIGTERM); Enter does not
// close, since a stray Enter in a terminal is common and would end an update.
#include <signal.h>
#include <termios.h>

#include <functional>

#include "engine/Clock.h"
#include "platform/posix/DeviceWatch.h"
#include "platform/posix/TerminalView.h"

struct DialogHandlers {
    std::function<void()> onInit;
    std::function<void()> onTimer;
    std::function<void()> onDeviceChange;
    std::function<void()> onDestroy;
};

// While it lives, SIGTERM, SIGINT and SIGHUP close the dialog instead of ending the process,
// so the engine is always shut down. They are blocked on the creating thread, and so on every
// thread it starts, and let through only while the loop waits: no other thread sees them, and
// the handler only marks a pipe that the loop reads.
class CloseSignals {
  public:
    CloseSignals();
    ~CloseSignals();
    CloseSignals(const CloseSignals&) = delete;
    CloseSignals& operator=(const CloseSignals&) = delete;

    int Fd() const;
    // The signal mask to wait with.
    const sigset_t* WaitMask() const { return &waitMask_; }
    // Empties the pipe; true when a signal had arrived.
    bool Take();

  private:
    sigset_t waitMask_;
    struct sigaction savedActions_[3];
};

// On a terminal, keys arrive one by one and are not echoed while the dialog runs; Ctrl-C still
// raises SIGINT. Restores the terminal when it ends.
class KeyboardMode {
  public:
    explicit KeyboardMode(int fd);
    ~KeyboardMode();
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;

  private:
    int fd_;
    bool changed_ = false;
    termios saved_{};
};

class DialogLoop {
  public:
    static constexpr unsigned char kEscape = 0x1B;
    static constexpr unsigned char kCtrlC = 0x03;

    // inputFd: the keys (-1 for none); watch and signals may be null.
    DialogLoop(TerminalView& view, Clock& clock, int inputFd, DeviceWatch* watch,
               CloseSignals* signals)
        : view_(view), clock_(clock), inputFd_(inputFd), watch_(watch), signals_(signals) {}

    // Runs onInit, then the handlers until the view is closed, then onDestroy.
    void Run(const DialogHandlers& handlers);

    // True when the bytes of one read hold a key that closes the dialog. An Escape that starts
    // a key sequence (an arrow key, a function key) is not one.
    static bool ClosesDialog(const unsigned char* bytes, size_t count);

  private:
    void ReadKeys();

    TerminalView& view_;
    Clock& clock_;
    int inputFd_;
    DeviceWatch* watch_;
    CloseSignals* signals_;
};
