#include "targets/TargetCatalogue.h"

#include <algorithm>
#include <memory>

#include "engine/CommLink.h"
#include "engine/FormatText.h"
#include "targets/OrvaneConnection.h"
#include "targets/PflConnection.h"
#include "targets/RomMonitorConnection.h"

namespace {

std::unique_ptr<BootConnection> Hestan(ProtocolContext& context, const BootSetup& setup) {
    return std::make_unique<RomMonitorConnection>(context, setup.speedCode);
}

template <OrvaneConnection::Variant variant>
std::unique_ptr<BootConnection> Orvane(ProtocolContext& context, const BootSetup& setup) {
    // The request's wait, when it has one, is the only limit on the monitor's answer.
    return std::make_unique<OrvaneConnection>(
        context, variant, setup.speedCode,
        setup.bootWaitMs != 0 ? 0 : OrvaneConnection::kConnectLimitMs);
}

template <PflConnection::Variant variant>
std::unique_ptr<BootConnection> Pfl(ProtocolContext& context, const BootSetup& setup) {
    return std::make_unique<PflConnection>(context, variant, setup.speedCode, setup.sendRecord);
}

constexpr int32_t kKeep = TargetRow::kKeepSpeed;
using Orv = OrvaneConnection::Variant;
using Kpf = PflConnection::Variant;

// Type 2 loads the flash loader as type 3 does but runs an image through the mask-ROM monitor;
// type 5 leaves the record wait as every session begins: off.
const TargetCatalogue& BuiltIn() {
    static const TargetCatalogue catalogue({
        // type, name, name gives speed, speed, boot connection, loader resource, record wait, run
        {TargetType::LoaderRunsWithoutRecordWait, nullptr, false, kKeep, nullptr, 0, false,
         nullptr},
        {TargetType{1}, "Hestan mask-ROM monitor", false, speedcode::k19200, Hestan, 174, true,
         Hestan},
        {TargetType{2}, "Orvane text monitor in mask ROM", false, speedcode::k57600,
         Orvane<Orv::OnKalmer>, 174, true, Orvane<Orv::MaskRom>},
        {TargetType{3}, "Orvane text monitor on the Kalmer chip", false, speedcode::k57600,
         Orvane<Orv::OnKalmer>, 174, true, Orvane<Orv::OnKalmer>},
        {TargetType{4}, "Kalmer primary flash loader A", true, speedcode::k19200, Pfl<Kpf::A>, 174,
         true, Pfl<Kpf::A>},
        {TargetType{5}, "Kalmer primary flash loader B", true, speedcode::k57600, Pfl<Kpf::B>, 174,
         false, Pfl<Kpf::B>},
        {TargetType{6}, "Kalmer primary flash loader C", true, speedcode::k57600, Pfl<Kpf::C>, 195,
         true, Pfl<Kpf::C>},
        {TargetType{7}, "Kalmer primary flash loader C, second loader", false, speedcode::k57600,
         Pfl<Kpf::C>, 196, true, Pfl<Kpf::C>},
        {TargetType::LoaderRuns, "flash loader already running, after the greeting", false, kKeep,
         nullptr, 0, true, nullptr},
    });
    return catalogue;
}

}  // namespace

const TargetRow* TargetCatalogue::Find(TargetType type) const {
    const auto row = std::find_if(rows_.begin(), rows_.end(),
                                  [type](const TargetRow& r) { return r.type == type; });
    return row != rows_.end() ? &*row : nullptr;
}

std::string TargetCatalogue::NameOf(TargetType type) const {
    const TargetRow* row = Find(type);
    if (row == nullptr || !row->Offered()) {
        return "";
    }
    if (!row->nameGivesSpeed) {
        return row->name;
    }
    return FormatText("%s (%u baud)", row->name,
                      static_cast<unsigned>(speedcode::kBaud[row->speedCode]));
}

uint16_t TargetCatalogue::LoaderResourceOf(TargetType type) const {
    const TargetRow* row = Find(type);
    return row != nullptr ? row->loaderResourceId : 0;
}

std::string TargetCatalogue::Range(bool (TargetRow::*has)() const) const {
    unsigned low = ~0u;
    unsigned high = 0;
    for (const TargetRow& row : rows_) {
        if ((row.*has)() && row.Offered()) {
            low = std::min(low, row.Number());
            high = std::max(high, row.Number());
        }
    }
    return FormatText("%u to %u", low, high);
}

std::string TargetCatalogue::OfferedRange() const {
    return Range(&TargetRow::Offered);
}

std::string TargetCatalogue::BootRange() const {
    return Range(&TargetRow::Boot);
}

const TargetCatalogue& Targets() {
    return BuiltIn();
}
