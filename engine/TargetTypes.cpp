#include "engine/TargetTypes.h"

#include <iterator>

namespace {

struct TargetType {
    const char* name;
    uint16_t sfldResourceId;
};

constexpr TargetType kTargetTypes[] = {
    {nullptr, 0},
    {"Hestan mask-ROM monitor", 174},
    {"Orvane text monitor in mask ROM", 174},
    {"Orvane text monitor on the Kalmer chip", 174},
    {"Kalmer primary flash loader A (19200 baud)", 174},
    {"Kalmer primary flash loader B (57600 baud)", 174},
    {"Kalmer primary flash loader C (57600 baud)", 195},
    {"Kalmer primary flash loader C, second loader", 196},
    {"flash loader already running, after the greeting", 0},
};

}  // namespace

const char* TargetTypeName(uint8_t targetType) {
    return targetType < std::size(kTargetTypes) ? kTargetTypes[targetType].name : nullptr;
}

uint16_t SfldResourceId(uint8_t targetType) {
    return targetType < std::size(kTargetTypes) ? kTargetTypes[targetType].sfldResourceId : 0;
}
