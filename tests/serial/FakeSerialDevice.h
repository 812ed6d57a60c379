#pragma once
// A serial driver whose every answer the test sets: open results, received bytes, line
// errors, queue counts, a gone device, writes that hang or are refused. It records what the
// port asked of it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"

class FakeSerialDevice : public SerialDevice {
  public:
    // --- what the test sets ---
    void QueueOpenResult(OpenResult result) {
        std::lock_guard<std::mutex> lock(mutex_);
        openResults_.push_back(result);
    }
    void AddPort(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        ports_.insert(name);
    }
    void Receive(const std::vector<uint8_t>& bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        input_.insert(input_.end(), bytes.begin(), bytes.end());
        changed_.notify_all();
    }
    void SetLineStatus(LineStatus status) {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = status;
    }
    // A gone device refuses every transfer, as a driver does once its device has left.
    void SetGone(bool gone) {
        std::lock_guard<std::mutex> lock(mutex_);
        gone_ = gone;
        changed_.notify_all();
    }
    void HoldWrites(bool hold) {
        std::lock_guard<std::mutex> lock(mutex_);
        holdWrites_ = hold;
        changed_.notify_all();
    }
    // Open waits while held, as a driver slow to open the device.
    void HoldOpens(bool hold) {
        std::lock_guard<std::mutex> lock(mutex_);
        holdOpens_ = hold;
        changed_.notify_all();
    }
    void RefuseWrites(int count) {
        std::lock_guard<std::mutex> lock(mutex_);
        refuseWrites_ = count;
    }
    void RefuseReads(int count) {
        std::lock_guard<std::mutex> lock(mutex_);
        refuseReads_ = count;
    }

    // --- what the port did ---
    std::vector<std::string> OpenedPaths() {
        std::lock_guard<std::mutex> lock(mutex_);
        return openedPaths_;
    }
    std::vector<Settings> Configured() {
        std::lock_guard<std::mutex> lock(mutex_);
        return configured_;
    }
    std::vector<uint32_t> RateChanges() {
        std::lock_guard<std::mutex> lock(mutex_);
        return rateChanges_;
    }
    std::vector<uint32_t> WriteSizes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return writeSizes_;
    }
    std::vector<uint8_t> Sent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    int WriteAttempts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return writeAttempts_;
    }
    int ReadAttempts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return readAttempts_;
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    bool IsDeviceOpen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return open_;
    }
    // I/O calls still inside the driver, and calls made while it was closed.
    int Busy() {
        std::lock_guard<std::mutex> lock(mutex_);
        return busy_;
    }
    int CallsWhileClosed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return callsWhileClosed_;
    }
    // Waits (real time, bounded) until the driver has been handed at least count bytes.
    bool WaitSent(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return sent_.size() >= count; });
    }
    // Waits until the reader has taken every received byte and waits for more: by then it has
    // delivered all of them to the port's rings.
    bool WaitReaderIdle(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return input_.empty() && readWaiting_; });
    }
    bool WaitOpen(bool open, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return open_ == open; });
    }

    // --- the driver ---
    std::string DevicePath(const std::string& portName) override { return "/fake/" + portName; }
    bool PortExists(const std::string& portName) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return ports_.count(portName) != 0;
    }
    OpenResult Open(const std::string& devicePath) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !holdOpens_; });
        calls_.push_back("Open");
        openedPaths_.push_back(devicePath);
        OpenResult result = OpenResult::Ok;
        if (!openResults_.empty()) {
            result = openResults_.front();
            openResults_.pop_front();
        }
        open_ = result == OpenResult::Ok;
        cancelled_ = false;
        changed_.notify_all();
        return result;
    }
    void Configure(const Settings& settings) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Note("Configure");
        configured_.push_back(settings);
    }
    void SetBaudRate(uint32_t baudRate) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Note("SetBaudRate");
        rateChanges_.push_back(baudRate);
    }
    IoResult ReadByte(uint8_t& byte) override {
        std::unique_lock<std::mutex> lock(mutex_);
        Note("ReadByte");
        ++readAttempts_;
        if (refuseReads_ > 0) {
            --refuseReads_;
            return IoResult::Failed;
        }
        ++busy_;
        readWaiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return cancelled_ || gone_ || !input_.empty(); });
        readWaiting_ = false;
        --busy_;
        if (cancelled_) {
            return IoResult::Cancelled;
        }
        if (gone_) {
            return IoResult::Failed;
        }
        byte = input_.front();
        input_.pop_front();
        return IoResult::Done;
    }
    IoResult Write(const uint8_t* bytes, uint32_t count, uint32_t& written) override {
        std::unique_lock<std::mutex> lock(mutex_);
        Note("Write");
        ++writeAttempts_;
        written = 0;
        if (gone_) {
            return IoResult::Failed;
        }
        if (refuseWrites_ > 0) {
            --refuseWrites_;
            return IoResult::Failed;
        }
        ++busy_;
        changed_.wait(lock, [&] { return cancelled_ || !holdWrites_; });
        --busy_;
        if (cancelled_) {
            return IoResult::Cancelled;
        }
        writeSizes_.push_back(count);
        sent_.insert(sent_.end(), bytes, bytes + count);
        written = count;
        changed_.notify_all();
        return IoResult::Done;
    }
    LineStatus TakeLineStatus() override {
        std::lock_guard<std::mutex> lock(mutex_);
        LineStatus status = status_;
        status_.errors = 0;
        return status;
    }
    void Purge() override {
        std::lock_guard<std::mutex> lock(mutex_);
        Note("PurgeTxRx");
    }
    bool IsGone() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return gone_;
    }
    void Cancel() override {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        changed_.notify_all();
    }
    void Close() override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back("Close");
        open_ = false;
        cancelled_ = false;
        changed_.notify_all();
    }

  private:
    void Note(const char* call) {
        if (!open_) {
            ++callsWhileClosed_;
        }
        if (calls_.empty() || calls_.back() != call) {
            calls_.push_back(call);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<OpenResult> openResults_;
    std::set<std::string> ports_;
    std::deque<uint8_t> input_;
    LineStatus status_;
    bool gone_ = false;
    bool holdWrites_ = false;
    bool holdOpens_ = false;
    int refuseWrites_ = 0;
    int refuseReads_ = 0;
    bool open_ = false;
    bool cancelled_ = false;
    bool readWaiting_ = false;
    int busy_ = 0;
    int callsWhileClosed_ = 0;
    int writeAttempts_ = 0;
    int readAttempts_ = 0;
    std::vector<std::string> openedPaths_;
    std::vector<Settings> configured_;
    std::vector<uint32_t> rateChanges_;
    std::vector<uint32_t> writeSizes_;
    std::vector<uint8_t> sent_;
    std::vector<std::string> calls_;
};
