#include "flashloader/FlashChipTable.h"

#include <array>
#include <iterator>

namespace {

// The tables keep one chip a line.
// clang-format off

// Every table closes with an entry whose device id is 0.
constexpr FlashChipEntry kEnd{"", 0x00, 0, 0x0000};

constexpr FlashChipEntry kAlliance[] = {
    {"AS29LV400B", 0x52, 0, 0x00BA},
    kEnd,
};

constexpr FlashChipEntry kAmd[] = {
    {"AM29F010", 0x01, 0, 0x0020},
    {"AM29F040", 0x01, 0, 0x00A4},
    {"AM29F080", 0x01, 0, 0x00D5},
    {"AM29F016D", 0x01, 0, 0x00AD},
    {"AM29F017D", 0x01, 0, 0x003D},
    {"AM29F032B", 0x01, 0, 0x0041},
    {"AM29F002T", 0x01, 0, 0x00B0},
    {"AM29F002B", 0x01, 0, 0x0034},
    {"AM29F004BT", 0x01, 0, 0x0077},
    {"AM29F004BB", 0x01, 0, 0x007B},
    {"AM29F100T", 0x01, 0, 0x22D9},
    {"AM29F100B", 0x01, 0, 0x22DF},
    {"AM29F200BT", 0x01, 0, 0x2251},
    {"AM29F200BB", 0x01, 0, 0x2257},
    {"AM29F400BT", 0x01, 0, 0x2223},
    {"AM29F400BB", 0x01, 0, 0x22AB},
    {"AM29F800T", 0x01, 0, 0x22D6},
    {"AM29F800B", 0x01, 0, 0x2258},
    // Shares 0x2258 with the row above, which wins; the chip's own id follows further down.
    {"AM29LV800BB", 0x01, 0, 0x2258},
    {"AM29LV800BT", 0x01, 0, 0x22DA},
    {"AM29F160DT", 0x01, 0, 0x22D2},
    {"AM29F160DB", 0x01, 0, 0x22D8},
    {"AM29LV200BT", 0x01, 0, 0x223B},
    {"AM29LV200BB", 0x01, 0, 0x22BF},
    {"AM29LV400BT", 0x01, 0, 0x22B9},
    {"AM29LV400BB", 0x01, 0, 0x22BA},
    {"AM29LV800BB", 0x01, 0, 0x225B},
    {"AM29LV160B/DT", 0x01, 0, 0x22C4},
    {"AM29LV160B/DB", 0x01, 0, 0x2249},
    {"AM29LV320DT", 0x01, 0, 0x22F6},
    {"AM29LV320DB", 0x01, 0, 0x22F9},
    {"AM29LV640U", 0x01, 0, 0x22D7},
    {"AM29DL163DT", 0x01, 0, 0x2228},
    {"AM29DL163DB", 0x01, 0, 0x222B},
    {"AM29DL322DT", 0x01, 0, 0x2255},
    {"AM29DL322DB", 0x01, 0, 0x2256},
    {"AM29DL323DT", 0x01, 0, 0x2250},
    {"AM29DL323DB", 0x01, 0, 0x2253},
    {"AM29DL324DT", 0x01, 0, 0x225C},
    {"AM29DL324DB", 0x01, 0, 0x225F},
    {"AM29DL800BT", 0x01, 0, 0x224A},
    {"AM29DL800BB", 0x01, 0, 0x22CB},
    {"AM29SL800DT", 0x01, 0, 0x22EA},
    {"AM29SL800DB", 0x01, 0, 0x226B},
    {"AM29PL160CB", 0x01, 0, 0x2245},
    {"AM29LV001BT", 0x01, 0, 0x00ED},
    {"AM29LV001BB", 0x01, 0, 0x006D},
    {"AM29LV002BT", 0x01, 0, 0x0040},
    {"AM29LV002BB", 0x01, 0, 0x00C2},
    {"AM29LV004BT", 0x01, 0, 0x00B5},
    {"AM29LV004BB", 0x01, 0, 0x00B6},
    {"AM29LV008BT", 0x01, 0, 0x003E},
    {"AM29LV008BB", 0x01, 0, 0x0037},
    {"AM29LV040B", 0x01, 0, 0x004F},
    {"AM29LV081B", 0x01, 0, 0x0038},
    {"AM29LV017D", 0x01, 0, 0x00C8},
    {"AM29LV033C", 0x01, 0, 0x00A3},
    {"AM29LV065D", 0x01, 0, 0x0093},
    {"AM29LV116DT", 0x01, 0, 0x00C7},
    {"AM29LV116DB", 0x01, 0, 0x004C},
    kEnd,
};

constexpr FlashChipEntry kAtmel[] = {
    {"AT49BV512", 0x1F, 0, 0x0003},
    {"AT29LV512", 0x1F, 0, 0x003D},
    {"AT49BV16X", 0x1F, 0, 0x00C0},
    {"AT49BV16XT", 0x1F, 0, 0x00C2},
    {"AT49BV32X", 0x1F, 0, 0x00C8},
    // Carries no device id, so the table ends here and the row after it is never reached.
    {"AT29C040", 0x1F, 0, 0x0000},
    {"AT49BV32XT", 0x1F, 0, 0x00C9},
    kEnd,
};

constexpr FlashChipEntry kFujitsu[] = {
    {"MBM29F040C", 0x04, 0, 0x00A4},
    {"MBM29F016A", 0x04, 0, 0x00AD},
    {"MBM29F080A", 0x04, 0, 0x00D5},
    {"MBM29F400TC", 0x04, 0, 0x2223},
    {"MBM29F400BC", 0x04, 0, 0x22AB},
    {"MBM29F800TA", 0x04, 0, 0x22D6},
    {"MBM29F800BA", 0x04, 0, 0x2258},
    {"MBM29LV002TC", 0x04, 0, 0x0040},
    {"MBM29LV002BC", 0x04, 0, 0x00C2},
    {"MBM29LV004TC", 0x04, 0, 0x00B5},
    {"MBM29LV004BC", 0x04, 0, 0x00B6},
    {"MBM29LV008TA", 0x04, 0, 0x003E},
    {"MBM29LV008BA", 0x04, 0, 0x0037},
    {"MBM29LV400TC", 0x04, 0, 0x22B9},
    {"MBM29LV400BC", 0x04, 0, 0x22BA},
    {"MBM29LV800TA", 0x04, 0, 0x22DA},
    {"MBM29LV800BA", 0x04, 0, 0x225B},
    {"MBM29LV160TE", 0x04, 0, 0x22C4},
    {"MBM29LV160BE", 0x04, 0, 0x2249},
    {"MBM29LV320TE", 0x04, 0, 0x22F6},
    {"MBM29LV320BE", 0x04, 0, 0x22F9},
    {"MBM29LV650UE", 0x04, 0, 0x22D7},
    {"MBM29DL322TE", 0x04, 0, 0x2255},
    {"MBM29DL322BE", 0x04, 0, 0x2256},
    {"MBM29DL323TE", 0x04, 0, 0x2250},
    {"MBM29DL323BE", 0x04, 0, 0x2253},
    {"MBM29DL324TE", 0x04, 0, 0x225C},
    {"MBM29DL324BE", 0x04, 0, 0x225F},
    kEnd,
};

constexpr FlashChipEntry kIntel[] = {
    {"28F512", 0x89, 0, 0x00B8},
    {"28F010", 0x89, 0, 0x00B4},
    {"28F020", 0x89, 0, 0x00BD},
    {"28F008SA", 0x89, 0, 0x00A2},
    {"28F008S5", 0x89, 0, 0x00A6},
    {"28F016S5", 0x89, 0, 0x00A0},
    {"28F016S3", 0x89, 0, 0x00AA},
    {"28F004B3T", 0x89, 0, 0x00D4},
    {"28F004B3B", 0x89, 0, 0x00D5},
    {"28F008B3T", 0x89, 0, 0x00D2},
    {"28F008B3B", 0x89, 0, 0x00D3},
    {"28F016B3T", 0x89, 0, 0x00D0},
    {"28F016B3B", 0x89, 0, 0x00D1},
    {"28F400B3T", 0x89, 0, 0x8894},
    {"28F400B3B", 0x89, 0, 0x8895},
    {"28F800B3T", 0x89, 0, 0x8892},
    {"28F800B3B", 0x89, 0, 0x8893},
    {"28F160B3T", 0x89, 0, 0x8890},
    {"28F160B3B", 0x89, 0, 0x8891},
    {"28F320B3T", 0x89, 0, 0x8896},
    {"28F320B3B", 0x89, 0, 0x8897},
    {"28F640B3T", 0x89, 0, 0x8898},
    {"28F640B3B", 0x89, 0, 0x8899},
    {"28F800C3T", 0x89, 0, 0x88C0},
    {"28F800C3B", 0x89, 0, 0x88C1},
    {"28F160C3T", 0x89, 0, 0x88C2},
    {"28F160C3B", 0x89, 0, 0x88C3},
    {"28F320C3T", 0x89, 0, 0x88C4},
    {"28F320C3B", 0x89, 0, 0x88C5},
    {"28F640C3T", 0x89, 0, 0x88CC},
    {"28F640C3B", 0x89, 0, 0x88CD},
    {"28F160F3T", 0x89, 0, 0x88F3},
    {"28F160F3B", 0x89, 0, 0x88F4},
    {"28F320J5", 0x89, 0, 0x0014},
    {"28F640J5", 0x89, 0, 0x0015},
    {"28F320J3", 0x89, 0, 0x0016},
    {"28F640J3", 0x89, 0, 0x0017},
    {"28F128J3", 0x89, 0, 0x0018},
    {"28F256J3", 0x89, 0, 0x001D},
    {"82802AB", 0x89, 0, 0x00AD},
    {"82802AC", 0x89, 0, 0x00AC},
    // Sharp's part speaks Intel's command set and is found under either code.
    {"LH28F640BF", 0xB0, 0, 0x00B0},
    kEnd,
};

constexpr FlashChipEntry kMicron[] = {
    {"MT28F128J3", 0x2C, 0, 0x0018},
    {"MT28F640J3", 0x2C, 0, 0x0017},
    {"MT28F320J3", 0x2C, 0, 0x0016},
    kEnd,
};

constexpr FlashChipEntry kSharp[] = {
    {"LH28F640BF", 0xB0, 0, 0x00B0},
    {"LH28F016SCT-L95", 0xB0, 0, 0x00AA},
    {"LH28F016SCT-Z4", 0xB0, 0, 0x00A0},
    {"LH28F008SCT-L85", 0xB0, 0, 0x00A6},
    // Intel's FlashFile parts answer like Sharp's and are kept with them.
    {"28F160S5", 0x89, 0, 0x00D0},
    {"28F320S5", 0x89, 0, 0x00D4},
    kEnd,
};

constexpr FlashChipEntry kSt[] = {
    {"M29F040B", 0x20, 0, 0x00E2},
    {"M29W040B", 0x20, 0, 0x00E3},
    {"M29F800AB", 0x20, 0, 0x0058},
    {"M29W400DT", 0x20, 0, 0x00EE},
    {"M29W400DB", 0x20, 0, 0x00EF},
    {"M29W800DT", 0x20, 0, 0x22D7},
    {"M29W800DB", 0x20, 0, 0x225B},
    {"M29W160DT", 0x20, 0, 0x22C4},
    {"M29W160DB", 0x20, 0, 0x2249},
    {"M29W320DT", 0x20, 0, 0x22CA},
    {"M29W320DB", 0x20, 0, 0x22CB},
    {"M50FW040", 0x20, 0, 0x002C},
    {"M50FW080", 0x20, 0, 0x002D},
    {"M50FW016", 0x20, 0, 0x002E},
    {"M50LPW080", 0x20, 0, 0x002F},
    {"M50FLW080A", 0x20, 0, 0x0080},
    {"M50FLW080B", 0x20, 0, 0x0081},
    {"PSD4256G6V", 0x20, 0, 0x00E9},
    kEnd,
};

constexpr FlashChipEntry kMacronix[] = {
    {"MX29F040", 0xC2, 0, 0x00A4},
    {"MX29F016", 0xC2, 0, 0x00AD},
    {"MX29F002T", 0xC2, 0, 0x00B0},
    {"MX29F002B", 0xC2, 0, 0x0034},
    {"MX29F004T", 0xC2, 0, 0x0045},
    {"MX29F004B", 0xC2, 0, 0x0046},
    {"MX29F400T", 0xC2, 0, 0x2223},
    {"MX29F400B", 0xC2, 0, 0x22AB},
    {"MX29LV040C", 0xC2, 0, 0x004F},
    {"MX29LV400T", 0xC2, 0, 0x22B9},
    {"MX29LV400B", 0xC2, 0, 0x22BA},
    {"MX29LV800T", 0xC2, 0, 0x22DA},
    {"MX29LV800B", 0xC2, 0, 0x225B},
    {"MX29LV160T", 0xC2, 0, 0x22C4},
    {"MX29LV160B", 0xC2, 0, 0x2249},
    kEnd,
};

constexpr FlashChipEntry kSst[] = {
    {"SST39VF200", 0xBF, 0, 0x2789},
    {"SST39VF400", 0xBF, 0, 0x2780},
    {"SST39VF800", 0xBF, 0, 0x2781},
    {"SST39VF160", 0xBF, 0, 0x2782},
    {"SST39VF1601", 0xBF, 0, 0x234B},
    {"SST39VF1602", 0xBF, 0, 0x234A},
    {"SST39VF3201", 0xBF, 0, 0x235B},
    {"SST39VF3202", 0xBF, 0, 0x235A},
    {"SST39VF6401", 0xBF, 0, 0x236B},
    {"SST39VF6402", 0xBF, 0, 0x236A},
    {"SST39WF1602", 0xBF, 0, 0x2813},
    {"SST36VF3203", 0xBF, 0, 0x7354},
    {"SST39LF512", 0xBF, 0, 0x00D4},
    {"SST39LF010", 0xBF, 0, 0x00D5},
    {"SST39LF020", 0xBF, 0, 0x00D6},
    {"SST39LF040", 0xBF, 0, 0x00D7},
    {"SST39VF080", 0xBF, 0, 0x00D8},
    {"SST39SF512", 0xBF, 0, 0x00B4},
    {"SST39SF010A", 0xBF, 0, 0x00B5},
    {"SST39SF020A", 0xBF, 0, 0x00B6},
    {"SST39SF040", 0xBF, 0, 0x00B7},
    {"SST28SF040", 0xBF, 0, 0x0004},
    {"SST29EE010", 0xBF, 0, 0x0007},
    {"SST29LE010", 0xBF, 0, 0x0008},
    {"SST29EE020", 0xBF, 0, 0x0010},
    {"SST29LE020", 0xBF, 0, 0x0012},
    {"SST29EE512", 0xBF, 0, 0x005D},
    {"SST29LE512", 0xBF, 0, 0x003D},
    {"SST29SF040", 0xBF, 0, 0x0013},
    {"SST49LF002A", 0xBF, 0, 0x0057},
    {"SST49LF003A", 0xBF, 0, 0x001B},
    {"SST49LF004A", 0xBF, 0, 0x0060},
    {"SST49LF008A", 0xBF, 0, 0x005A},
    {"SST49LF016C", 0xBF, 0, 0x005C},
    {"SST49LF160C", 0xBF, 0, 0x004C},
    {"SST49LF020", 0xBF, 0, 0x0061},
    {"SST49LF020A", 0xBF, 0, 0x0052},
    {"SST49LF030A", 0xBF, 0, 0x001C},
    {"SST49LF040", 0xBF, 0, 0x0051},
    {"SST49LF040B", 0xBF, 0, 0x0050},
    {"SST49LF080A", 0xBF, 0, 0x005B},
    kEnd,
};

constexpr FlashChipEntry kToshiba[] = {
    {"TC58FVT160", 0x98, 0, 0x00C2},
    {"TC58FVB160", 0x98, 0, 0x0043},
    {"TC58FVT321", 0x98, 0, 0x009A},
    {"TC58FVB321", 0x98, 0, 0x009C},
    {"TC58FVT641", 0x98, 0, 0x0093},
    {"TC58FVB641", 0x98, 0, 0x0095},
    kEnd,
};

// clang-format on

constexpr std::array<std::span<const FlashChipEntry>, 11> kTables = {{
    kAlliance,
    kAmd,
    kAtmel,
    kFujitsu,
    kIntel,
    kMicron,
    kSharp,
    kSt,
    kMacronix,
    kSst,
    kToshiba,
}};

struct Vendor {
    uint8_t code;
    const char* name;
};

constexpr Vendor kVendors[] = {
    {0x01, "Advanced Micro Devices"},
    {0x04, "Fujitsu"},
    {0x1F, "Atmel"},
    {0x20, "SGS/Thomson"},
    {0x2C, "Micron"},
    {0x52, "Alliance Semiconductor"},
    {0x89, "Intel"},
    {0x98, "Toshiba"},
    {0xB0, "Sharp"},
    {0xBF, "Silicon Storage Technology"},
    {0xC2, "Macronix"},
};

// Old loaders answer the query with one of these indices instead of the full identification.
constexpr const char* kShortAnswerNames[] = {
    "UNKNOWN",     "AMD29LV200B", "AMD29LV400B",  "AMD29LV800B", "AMD29LV160B", "AMD29LV320B",
    "AMD29DL322C", "AMD29DL323C", "TC58FVB321FT", "SST39VF200",  "SST39VF400",  "SST39VF800",
    "SST39VF160",  "SST39VF320",  "MX29LV400B",   "MVM29LV160B", "AT29LV1614A", "AT29LV32X",
};

}  // namespace

std::span<const std::span<const FlashChipEntry>> FlashChipTable() {
    return kTables;
}

const FlashChipEntry* LookupFlashChip(uint8_t manufacturer, uint16_t deviceId) {
    for (const auto& table : kTables) {
        if (table.empty() || table.front().manufacturer != manufacturer) {
            continue;
        }
        for (const FlashChipEntry& entry : table) {
            if (entry.deviceId == 0) {
                break;
            }
            if (entry.deviceId == deviceId) {
                return &entry;
            }
        }
        // Only the first table with the code is searched.
        return nullptr;
    }
    return nullptr;
}

const char* FlashVendorName(uint8_t manufacturer) {
    for (const Vendor& vendor : kVendors) {
        if (vendor.code == manufacturer) {
            return vendor.name;
        }
    }
    return "Unknown Vendor ID";
}

const char* FlashShortAnswerName(uint8_t answer) {
    if (answer >= std::size(kShortAnswerNames)) {
        return kShortAnswerNames[0];
    }
    return kShortAnswerNames[answer];
}
