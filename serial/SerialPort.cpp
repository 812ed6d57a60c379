#include "serial/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kDefaultBaudRate = speedcode::kBaud[speedcode::k19200];

// The texts of the line errors, in the order they are reported.
struct LineErrorText {
    uint32_t bit;
    const char* text;
};
constexpr LineErrorText kLineErrorTexts[] = {
    {LineError::kBreak, "The hardware detected a break condition.\n"},
    {LineError::kFrame, "The hardware detected a framing error.\n"},
    {LineError::kIoError, "An I/O error occurred during communications with the device.\n"},
    {LineError::kMode, "The requested mode is not supported.\n"},
    {LineError::kOverrun, "A character-buffer overrun has occurred.\n"},
    {LineError::kRxOver, "An input buffer overflow has occurred.\n"},
    {LineError::kRxParity, "The hardware detected a parity error.\n"},
    {LineError::kTxFull, "Output buffer overflow.\n"},
};

// Bounds of the writer's wait for the driver to send what it holds before it answers
// TransmitDone: long enough that a caller polling TransmitDone cannot drive the two threads
// round a tight loop, short enough that the answer stays well inside its 500 ms.
constexpr uint32_t kDrainWaitMinMs = 10;
constexpr uint32_t kDrainWaitMaxMs = 200;

}  // namespace

SerialPort::SerialPort(SerialDevice& device) : device_(device) {}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open() {
    std::lock_guard<std::mutex> life(lifeMutex_);
    CloseLocked();
    txQueue.Clear();
    rxProtocol.Clear();
    rxHandshake.Clear();
    std::string name;
    {
        std::lock_guard<std::mutex> lock(nameMutex_);
        name = comName;
    }
    if (name.empty()) {
        return true;
    }
    const std::string path = device_.DevicePath(name);
    const SerialDevice::OpenResult result = device_.Open(path);
    lastOpenResult_.store(result);
    if (result != SerialDevice::OpenResult::Ok) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        errorText = device_.ShownName(name) + (result == SerialDevice::OpenResult::Busy
                                                   ? " is Locked by Another Device!"
                                                   : " Serial Port Open Error!");
        errorPending.store(1);
        return false;
    }
    SerialDevice::Settings settings;
    settings.baudRate = baudRate.load();
    settings.hardwareFlow = hardwareFlow.load() != 0;
    settings.parity = parity.load();
    settings.stopBits = stopBits.load();
    settings.queueSize = kRingSize;
    device_.Configure(settings);
    {
        std::lock_guard<std::mutex> lock(nameMutex_);
        openedPath_ = path;
    }
    deviceLeft_.store(0);
    ioStopEvent.Reset();
    writerWakeEvent.Reset();
    speedChangePending.store(0);
    isOpen.store(1);
    openCount_.fetch_add(1);
    readerStop.store(0);
    reader_ = std::thread(&SerialPort::ReaderMain, this);
    writerStop.store(0);
    writer_ = std::thread(&SerialPort::WriterMain, this);
    return true;
}

void SerialPort::Close() {
    std::lock_guard<std::mutex> life(lifeMutex_);
    CloseLocked();
}

void SerialPort::CloseLocked() {
    if (isOpen.load() == 0) {
        return;
    }
    isOpen.store(0);
    readerStop.store(1);
    writerStop.store(1);
    // The driver is told to give up first and closed only once both threads have left it: on
    // POSIX a descriptor closed under a waiting thread could be reused by the next open.
    device_.Cancel();
    writerWakeEvent.Set();
    ioStopEvent.Set();
    reader_.join();
    writer_.join();
    device_.Close();
}

void SerialPort::SetPortName(const std::string& name) {
    std::lock_guard<std::mutex> lock(nameMutex_);
    comName = name;
}

void SerialPort::StoreSpeed(int32_t code) {
    speedCode.store(code);
    baudRate.store(code >= 0 && code < speedcode::kCount ? speedcode::kBaud[code]
                                                         : kDefaultBaudRate);
}

void SerialPort::SetParityCode(int code) {
    // Windows parity values: 0 none, 1 odd, 2 even, 3 mark.
    switch (code) {
        case 0:
            parity.store(2);
            break;
        case 1:
            parity.store(3);
            break;
        case 3:
            parity.store(1);
            break;
        default:
            parity.store(0);
            break;
    }
}

void SerialPort::SetStopBitsCode(int code) {
    stopBits.store(code == 1 || code == 2 ? static_cast<uint8_t>(code) : 0);
}

bool SerialPort::WriteByte(int byte) {
    const uint8_t value = static_cast<uint8_t>(byte & 0xFF);
    return Write(&value, 1);
}

bool SerialPort::WriteText(const char* text) {
    return Write(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(std::strlen(text)));
}

bool SerialPort::Write(const uint8_t* bytes, uint32_t count) {
    if (isOpen.load() == 0) {
        return false;
    }
    while (count > 0) {
        const uint16_t chunk = static_cast<uint16_t>(std::min<uint32_t>(count, 0xFFFF));
        txQueue.PushAllOverwrite(bytes, chunk);
        bytes += chunk;
        count -= chunk;
    }
    writerWakeEvent.Set();
    return true;
}

bool SerialPort::AskWriter(uint32_t waitMs) {
    uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> lock(writerAckMutex_);
        ticket = questionsAsked_.fetch_add(1) + 1;
    }
    writerWakeEvent.Set();
    std::unique_lock<std::mutex> lock(writerAckMutex_);
    return writerAckEvent.wait_for(lock, std::chrono::milliseconds(waitMs),
                                   [&] { return questionsAnswered_ >= ticket; });
}

void SerialPort::SetSpeed(int32_t code) {
    StoreSpeed(code);
    if (isOpen.load() == 0) {
        return;
    }
    speedChangePending.store(1);
    AskWriter();
}

uint32_t SerialPort::TransmitDone() {
    if (isOpen.load() == 0) {
        return transmitIdle.load();
    }
    drainWanted_.store(1);
    AskWriter();
    return transmitIdle.load();
}

uint32_t SerialPort::TransmitDoneWithin(uint32_t waitMs) {
    if (isOpen.load() == 0) {
        return transmitIdle.load();
    }
    drainWanted_.store(1);
    // Unanswered, the idle mark is from a cycle before the bytes were queued: not done.
    return AskWriter(std::min(waitMs, kAnswerWaitMs)) ? transmitIdle.load() : 0;
}

uint32_t SerialPort::TransmitTime(uint32_t count) {
    const double charsPerSecond = baudRate.load() / 10.0;
    const uint32_t ms = static_cast<uint32_t>(std::lround(count * 1000.0 / charsPerSecond));
    return ms == 0 ? 1 : ms;
}

void SerialPort::Purge() {
    rxProtocol.Clear();
    txQueue.Clear();
    rxHandshake.Clear();
    std::lock_guard<std::mutex> life(lifeMutex_);
    if (isOpen.load() != 0) {
        device_.Purge();
    }
}

void SerialPort::CheckDevice() {
    std::lock_guard<std::mutex> life(lifeMutex_);
    if (isOpen.load() != 0 && (deviceLeft_.load() != 0 || device_.IsGone())) {
        deviceLeft_.store(1);
        CloseLocked();
    }
}

std::string SerialPort::DeviceName() {
    std::lock_guard<std::mutex> lock(nameMutex_);
    return openedPath_;
}

void SerialPort::NoteRefusal() {
    // Asked once: a gone device stays gone until the port is opened again.
    if (deviceLeft_.load() == 0 && device_.IsGone()) {
        deviceLeft_.store(1);
    }
}

bool SerialPort::WaitForByte(uint32_t ms) {
    std::unique_lock<std::mutex> lock(arrivalMutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        // Counted before looking, so a byte that lands between the look and the sleep still
        // ends the sleep.
        const uint64_t seen = arrivals_;
        lock.unlock();
        const bool waiting = !rxProtocol.IsEmpty();
        lock.lock();
        if (waiting) {
            return true;
        }
        if (!arrival_.wait_until(lock, deadline, [&] { return arrivals_ != seen; })) {
            return false;
        }
    }
}

bool SerialPort::TakeError(std::string& text) {
    std::lock_guard<std::mutex> lock(errorMutex_);
    if (errorPending.load() == 0) {
        return false;
    }
    text = errorText;
    errorPending.store(0);
    return true;
}

bool SerialPort::PollLineErrors() {
    const SerialDevice::LineStatus status = device_.TakeLineStatus();
    std::lock_guard<std::mutex> lock(errorMutex_);
    if (status.errors != 0) {
        errorText.clear();
        errorPending.store(1);
    } else {
        errorPending.store(0);
    }
    inQueue.store(status.inQueue);
    outQueue.store(status.outQueue);
    for (const LineErrorText& entry : kLineErrorTexts) {
        if ((status.errors & entry.bit) != 0) {
            errorText += entry.text;
        }
    }
    return errorPending.load() != 0;
}

void SerialPort::ReaderMain() {
    while (readerStop.load() == 0) {
        uint8_t byte = 0;
        const SerialDevice::IoResult result = device_.ReadByte(byte);
        if (result == SerialDevice::IoResult::Done) {
            rxProtocol.PushOverwrite(byte);
            rxHandshake.PushOverwrite(byte);
            {
                std::lock_guard<std::mutex> lock(arrivalMutex_);
                ++arrivals_;
            }
            arrival_.notify_all();
        } else {
            if (result == SerialDevice::IoResult::Failed) {
                NoteRefusal();
            }
            // A refused read is tried again after a pause rather than at once, so a port
            // whose device has hung up does not keep this thread busy until it is closed.
            ioStopEvent.Wait(kIoRetryMs);
        }
    }
    readerStop.store(0);
}

uint32_t SerialPort::DrainWaitMs() {
    return std::clamp(TransmitTime(outQueue.load()), kDrainWaitMinMs, kDrainWaitMaxMs);
}

void SerialPort::AnswerQuestions(uint64_t seen) {
    {
        std::lock_guard<std::mutex> lock(writerAckMutex_);
        questionsAnswered_ = std::max(questionsAnswered_, seen);
    }
    writerAckEvent.notify_all();
}

bool SerialPort::SendPending(uint8_t* buffer, uint32_t& start, uint32_t& end) {
    uint32_t written = 0;
    const SerialDevice::IoResult result = device_.Write(buffer + start, end - start, written);
    start += std::min(written, end - start);
    if (result == SerialDevice::IoResult::Failed) {
        NoteRefusal();
    }
    return result == SerialDevice::IoResult::Done;
}

void SerialPort::WriterMain() {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kWriteChunk]);
    // Bytes taken from txQueue that the driver has not accepted yet; they go before anything
    // still queued, so nothing is reordered.
    uint32_t start = 0;
    uint32_t end = 0;
    while (writerStop.load() == 0) {
        writerWakeEvent.Wait(kWriterCycleMs);
        uint64_t seen = 0;
        {
            std::lock_guard<std::mutex> lock(writerAckMutex_);
            seen = questionsAsked_.load();
        }
        if (speedChangePending.exchange(0) != 0) {
            device_.SetBaudRate(baudRate.load());
        }
        const bool nothingQueued = start == end && txQueue.IsEmpty();
        // A TransmitDone caller polls until the driver is empty: give the driver the time its
        // queue needs before looking again, so each poll costs the caller that time.
        if (drainWanted_.exchange(0) != 0 && nothingQueued && outQueue.load() > 0) {
            ioStopEvent.Wait(DrainWaitMs());
        }
        PollLineErrors();
        transmitIdle.store(start == end && txQueue.IsEmpty() && outQueue.load() == 0 ? 1 : 0);
        AnswerQuestions(seen);
        while (writerStop.load() == 0) {
            if (start == end) {
                start = 0;
                end = txQueue.PopSome(buffer.get(), kWriteChunk);
                if (end == 0) {
                    break;
                }
            }
            if (!SendPending(buffer.get(), start, end)) {
                // Refused or cancelled: the rest waits for a later cycle, after a pause, so
                // that a driver that refuses at once is not asked again and again.
                ioStopEvent.Wait(kIoRetryMs);
                break;
            }
        }
    }
    writerStop.store(0);
}
