// The section's erase as the loader reports it, and the boot-reload request before it.
#include "flashloader/SfldCodes.h"
#include "flashloader/SfldLoader.h"

using namespace sfld;

Result SfldLoader::BootReload() {
    const uint64_t start = Now();
    link_.WriteByte(BOOT_RELOAD);
    const uint32_t limit = link_.timeoutFactor * kBootReloadWaitMs;
    uint8_t byte = 0;
    for (;;) {
        if (Result got = Await(start, limit, byte,
                               {"'BOOT_RELOAD' waiting time out.",
                                "BOOT Reload command are unsupported by this swload revision"});
            !got) {
            return got;
        }
        if (byte == BOOT_RELOAD) {
            context_.Log("BOOT Reload enabled.");
            return {};
        }
        if (byte == BAD_COMMAND) {
            constexpr char kUnsupported[] =
                "BOOT Reload command unsupported by this swload revision";
            context_.Log(kUnsupported);
            return Result::Failure(Result::Code::NotSupported, kUnsupported);
        }
    }
}

Result SfldLoader::EraseFailed(const char* why) {
    const std::string failed = ErrorText("FLASH erase failed.");
    if (why != nullptr) {
        context_.Log(why);
    }
    context_.Log("FLASH erase failure.");
    context_.SetStatus(failed);
    return Result::Failure(Result::Code::EraseFailed, why != nullptr ? why : "").Within(failed);
}

Result SfldLoader::WaitErase() {
    uint64_t start = Now();
    uint16_t expected = kAssumedSectors;
    uint16_t erased = 0;
    context_.SetPhase(phase::kErase);
    context_.SetProgress(0);

    uint8_t byte = 0;
    for (;;) {
        if (Result got = Await(start, kSectorWaitMs, byte, {"'SECTOR_ERASED' waiting time out."});
            !got) {
            return got;
        }
        switch (byte) {
            case OK_CODE:
                context_.Log("FLASH erasing complete.");
                context_.SetStatus("FLASH erasing complete");
                context_.SetProgress(1000);
                return {};
            case PROGRAM_FAIL:
                return EraseFailed();
            case ERASE_IDLE:
                break;
            case PARAM_CODE: {
                uint8_t sectors = 0;
                if (ReadParameter(sectors)) {
                    expected = sectors;
                    context_.Log(FormatText("Sectors to erase N = %i.", expected));
                }
                break;
            }
            case SECTOR_ERASED:
                ++erased;
                context_.Log(FormatText("%i sectors erased.", erased));
                context_.SetStatus("Erasing Flash");
                start = Now();
                // A loader that announced 0 sectors must not divide by zero.
                context_.SetProgress(PerMille(erased, expected));
                break;
            case FLASH_FULL_CODE:
                return EraseFailed("Image size exeed FLASH space.");
            default:
                return EraseFailed(FormatText("Unknown command 0x%02X.", byte).c_str());
        }
    }
}
