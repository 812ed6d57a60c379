// Which flash chip the device carries: the loader's eight-byte answer or an old one-byte one.
#include "flashloader/FlashChipTable.h"
#include "flashloader/SfldCodes.h"
#include "flashloader/SfldLoader.h"

using linkwait::Got;
using namespace sfld;

Result SfldLoader::IdentifyFlash(std::string& text) {
    constexpr size_t kAnswerLength = 8;
    uint64_t start = Now();
    link_.WriteByte(FLASH_ID_CODE);

    uint8_t answer[kAnswerLength] = {};
    size_t count = 0;
    bool echoed = false;
    uint8_t byte = 0;
    while (count < kAnswerLength) {
        const Got got = NextByte(start, kIdentifyWaitMs, byte);
        if (got == Got::Aborted) {
            return Result::Aborted();
        }
        if (got == Got::TimedOut) {
            // An old loader names its chip with one type byte; the short path logs nothing.
            const char* name = FlashShortAnswerName(count > 0 ? answer[0] : 0);
            text = FormatText("Flash: %s", name);
            return {};
        }
        if (!echoed) {
            echoed = byte == FLASH_ID_CODE;
            continue;
        }
        answer[count++] = byte;
        start = Now();
    }

    const bool cfi = answer[0] != 0;
    const uint8_t manufacturer = answer[1];
    const auto deviceId = static_cast<uint16_t>(answer[2] << 8 | answer[3]);
    session_.flashMaker = manufacturer;
    session_.flashDevice = deviceId;
    const uint32_t size = static_cast<uint32_t>(answer[4]) << 24 |
                          static_cast<uint32_t>(answer[5]) << 16 |
                          static_cast<uint32_t>(answer[6]) << 8 | answer[7];
    const auto sizeKb = static_cast<int>(size >> 10);

    context_.Log(FormatText("VENDOR: %s", FlashVendorName(manufacturer)));
    if (const FlashChipEntry* chip = LookupFlashChip(manufacturer, deviceId)) {
        context_.Log(FormatText("CHIP: %s", chip->name));
        text = chip->name;
    } else {
        text = FormatText("%s,mfg 0x%02X,id 0x%04X, sz %iKb", cfi ? "CFI" : "", manufacturer,
                          deviceId, sizeKb);
    }
    if (text.size() > kFlashTextMax) {
        text.resize(kFlashTextMax);
    }
    context_.Log(cfi ? "Common Flash Interface Available"
                     : "Common Flash Interface is not Available");
    context_.Log(FormatText("ManufacturersCode=0x%02X", manufacturer));
    context_.Log(FormatText("DeviceID=0x%04X", deviceId));
    context_.Log(FormatText("ChipSize=%iKb", sizeKb));
    return {};
}
