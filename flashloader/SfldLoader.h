#pragma once
// The host's side of the secondary flash loader's dialogue: connecting, single answer codes,
// records with acknowledgement and retry, flash identification, erasing and programming.
// Every operation runs on the worker thread; a failure comes back with its reason, and an
// aborted request ends it at once, without a message.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "flashloader/LinkWait.h"
#include "image/ParsedImage.h"
#include "image/SfldRecord.h"

// What one session with the loader sets and learns.
struct SfldSession {
    // The record transfer waits for REC_WAIT_CODE after each record's lead byte.
    bool RecordWaitMode = false;
    // The loader's version line.
    std::string sfldVersion;
    // The flash chip's maker code and device id, from a full identification answer.
    std::optional<uint8_t> flashMaker;
    std::optional<uint16_t> flashDevice;
};

class SfldLoader {
  public:
    static constexpr uint32_t kConnectWaitMs = 1000;
    static constexpr uint32_t kVersionWaitMs = 1000;
    static constexpr uint32_t kParameterWaitMs = 10000;
    static constexpr uint32_t kOkWaitMs = 1000;
    static constexpr uint32_t kRecWaitMs = 4000;
    static constexpr uint32_t kRecordAnswerMs = 5000;
    static constexpr uint32_t kSendRecordMs = 10000;
    static constexpr uint32_t kIdentifyWaitMs = 1000;
    static constexpr uint32_t kSectorWaitMs = 5000;
    static constexpr uint32_t kBootReloadWaitMs = 500;
    static constexpr uint16_t kAssumedSectors = 20;
    static constexpr size_t kFlashTextMax = 255;
    // A loader looked for on a port (rather than one a boot connection has just started) is
    // given this long to answer, across the port being opened anew, before the upload fails.
    static constexpr uint32_t kFindLoaderMs = 10000;
    // Between two looks at a port whose device has left: long enough for the port keeper to
    // open it again.
    static constexpr uint32_t kFindPauseMs = 500;

    SfldLoader(ProtocolContext& context, SfldSession& session)
        : context_(context), session_(session), link_(context.Link()) {}

    Result Connect();
    // Connect, tried again until patienceMs have passed: the device may still be re-appearing,
    // or its loader starting. The port stays open while its device is there; one whose device
    // has left is closed, and the port keeper opens whatever answers to the port's name. Once
    // the loader answers, the device that answered is the request's (WatchDevice).
    Result FindLoader(uint32_t patienceMs);
    void ReadVersion();
    Result WaitOk();
    Result WaitRecWait();
    bool ReadParameter(uint8_t& value);
    bool SkipMessage();
    Result SendRecordOnce(const SfldRecord& record);
    Result SendRecord(const SfldRecord& record);

    // The chip's name in text; fails only on an abort.
    Result IdentifyFlash(std::string& text);

    // With findLoaderMs, the loader is looked for (FindLoader) instead of connected to once.
    // With bootReload, the first section's programming begins with BOOT_RELOAD.
    Result FlashProgram(const ParsedImage& image, bool bootReload = false,
                        uint32_t findLoaderMs = 0);
    Result ProgramSection(const ParsedSection& section, int index, bool bootReload);
    Result WaitErase();
    // Fails when the loader refuses it (an old revision) or does not answer.
    Result BootReload();

  private:
    linkwait::Got NextByte(uint64_t startMs, uint32_t limitMs, uint8_t& byte) {
        return linkwait::NextByte(context_, startMs, limitMs, byte);
    }
    // The next byte; when the time is up first, timeoutLines are logged and the failure is
    // told in the first of them.
    Result Await(uint64_t startMs, uint32_t limitMs, uint8_t& byte,
                 std::initializer_list<const char*> timeoutLines);
    uint64_t Now() { return context_.GetClock().NowMs(); }
    // The two bytes after PARAM_CODE, both within kParameterWaitMs.
    bool ReadMessage(uint8_t& first, uint8_t& second);
    // why: what the loader said instead of finishing the erase, if anything.
    Result EraseFailed(const char* why = nullptr);
    // PROGRAM_FAIL seen by any wait: logged, and the section fails once its answers are read.
    void NoteProgramFail();
    Result ProgramFailed() const;
    // A step of the section as the section takes it: once the loader has sent PROGRAM_FAIL,
    // that is why the section fails, whether the step went through or a wait ran out.
    Result SectionStep(const Result& step) const;

    // Reused for the erase range, every data record and the end record of a section.
    SfldRecord record_;
    // The loader reported PROGRAM_FAIL since the section began.
    bool programFailSeen_ = false;

    ProtocolContext& context_;
    SfldSession& session_;
    CommLink& link_;
};

// Per mille of done out of total, rounded half up; 1000 when there is nothing to count.
uint16_t PerMille(double done, double total);
