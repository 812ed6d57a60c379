#pragma once
// The COM port every protocol talks through: reads pop a ring and never wait, writes push a
// ring and wake the writer thread. A reader and a writer thread, alive while the port is open,
// move the bytes between the rings and the SerialDevice.
//
// When the driver refuses a transfer at once (a hung-up line, a device that has gone), the
// thread pauses kIoRetryMs on the stop event and tries again: the reader starts a new read,
// the writer first resends the bytes the driver did not take, before anything queued after
// them. Close still ends both threads at once (the stop event and the driver's Cancel), the
// writer still answers SetSpeed and TransmitDone every cycle, and a dead device costs a few
// calls a second instead of a busy thread. A refused transfer also asks the driver whether the
// device has gone; if so the port reports it (DeviceLeft) at once, and CheckDevice and the port
// keeper then replace the port.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "engine/CommLink.h"
#include "engine/Event.h"
#include "serial/ByteRing.h"
#include "serial/SerialDevice.h"

class SerialPort : public CommLink {
  public:
    static constexpr uint16_t kRingSize = 32762;
    static constexpr uint32_t kWriteChunk = 8196;
    static constexpr uint32_t kWriterCycleMs = 300;
    static constexpr uint32_t kAnswerWaitMs = 500;
    // Pause of an I/O thread after the driver refused a transfer, before it tries again.
    static constexpr uint32_t kIoRetryMs = 100;

    // The device must outlive the port.
    explicit SerialPort(SerialDevice& device);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    void Close() override;
    uint32_t IsOpen() override { return isOpen.load(); }
    bool ReadByte(uint8_t& byte) override { return rxProtocol.Pop(byte); }
    bool WriteByte(int byte) override;
    bool WriteText(const char* text) override;
    bool Write(const uint8_t* bytes, uint32_t count) override;
    uint32_t TransmitDone() override;
    // TransmitDone, waiting at most waitMs for the writer's answer: for callers that must not
    // be held up by a driver that holds a write.
    uint32_t TransmitDoneWithin(uint32_t waitMs);
    void SetSpeed(int32_t code) override;
    int32_t GetSpeed() override { return speedCode.load(); }
    void Purge() override;
    bool ReadHandshakeByte(uint8_t& byte) override { return rxHandshake.Pop(byte); }
    uint32_t TransmitTime(uint32_t count) override;
    void CheckDevice() override;
    bool DeviceLeft() override { return deviceLeft_.load() != 0; }
    std::string DeviceName() override;
    bool WaitForByte(uint32_t ms) override;

    // True when the port is open afterwards or no name is set; the caller looks at IsOpen.
    bool Open();
    void SetPortName(const std::string& name);
    void StoreSpeed(int32_t code);
    void SetHardwareFlow(bool flag) { hardwareFlow.store(flag ? 1 : 0); }
    void SetParityCode(int code);
    void SetStopBitsCode(int code);
    // Hands out a pending error text once.
    bool TakeError(std::string& text);
    // Reads and clears the driver's line errors and queue counts (writer thread).
    bool PollLineErrors();

    // How often a port has been opened: a new number means a new device may be behind it.
    uint32_t OpenCount() const { return openCount_.load(); }
    // What the driver answered to the last open that failed (Ok after a successful one).
    SerialDevice::OpenResult LastOpenResult() const { return lastOpenResult_.load(); }

    uint32_t BaudRate() const { return baudRate.load(); }
    uint8_t Parity() const { return parity.load(); }
    uint8_t StopBits() const { return stopBits.load(); }

  private:
    void CloseLocked();
    void ReaderMain();
    void WriterMain();
    void AnswerQuestions(uint64_t seen);
    // True when the writer answered within waitMs.
    bool AskWriter(uint32_t waitMs = kAnswerWaitMs);
    uint32_t DrainWaitMs();
    bool SendPending(uint8_t* buffer, uint32_t& start, uint32_t& end);
    // After the driver refused a transfer (I/O thread): whether the device has left.
    void NoteRefusal();

    SerialDevice& device_;
    // Serialises Open, Close and the driver calls of other threads against them.
    std::mutex lifeMutex_;

    std::atomic<uint32_t> isOpen{0};
    std::atomic<uint32_t> openCount_{0};
    // Set when the device behind the port was seen to leave; cleared by the next open.
    std::atomic<uint32_t> deviceLeft_{0};
    std::atomic<SerialDevice::OpenResult> lastOpenResult_{SerialDevice::OpenResult::Ok};
    std::atomic<uint32_t> inQueue{0};
    std::atomic<uint32_t> outQueue{0};
    ByteRing txQueue{kRingSize};
    ByteRing rxProtocol{kRingSize};
    ByteRing rxHandshake{kRingSize};
    std::atomic<uint32_t> readerStop{0};
    std::atomic<uint32_t> writerStop{0};
    std::mutex nameMutex_;
    std::string comName;
    std::string openedPath_;
    std::atomic<uint8_t> hardwareFlow{0};
    std::atomic<uint8_t> parity{0};
    std::atomic<uint8_t> stopBits{0};
    Event ioStopEvent{Event::Mode::Manual};
    Event writerWakeEvent{Event::Mode::Auto};
    std::atomic<int32_t> speedCode{6};
    std::atomic<uint32_t> baudRate{19200};
    std::atomic<uint32_t> speedChangePending{0};
    std::atomic<uint32_t> transmitIdle{1};
    std::mutex errorMutex_;
    std::atomic<uint32_t> errorPending{0};
    std::string errorText;

    // The writer's answer to SetSpeed and TransmitDone. Each question takes a number; a cycle
    // answers the questions it saw when it began, so an answer from a cycle that began before
    // a question (and may not have seen the bytes written just before it) is never taken for
    // that question's answer.
    std::atomic<uint64_t> questionsAsked_{0};
    std::atomic<uint32_t> drainWanted_{0};
    std::mutex writerAckMutex_;
    std::condition_variable writerAckEvent;
    uint64_t questionsAnswered_ = 0;

    // WaitForByte sleeps here; the reader counts every byte it delivers.
    std::mutex arrivalMutex_;
    std::condition_variable arrival_;
    uint64_t arrivals_ = 0;

    std::thread reader_;
    std::thread writer_;
};
