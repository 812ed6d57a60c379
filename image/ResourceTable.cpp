#include "image/ResourceTable.h"

#include <atomic>

void ResourceTable::Register(const std::string& type, uint16_t id, std::vector<uint8_t> bytes) {
    entries_[{type, id}] = std::move(bytes);
}

void ResourceTable::Remove(const std::string& type, uint16_t id) {
    entries_.erase({type, id});
}

bool ResourceTable::Find(const char* type, uint16_t id, ResourceBytes& bytes) const {
    auto found = entries_.find({type, id});
    if (found == entries_.end()) {
        return false;
    }
    bytes.data = found->second.data();
    bytes.size = static_cast<uint32_t>(found->second.size());
    return true;
}

namespace {
ResourceTable& EmptyTable() {
    static ResourceTable table;
    return table;
}
std::atomic<ResourceLookup*> installed{nullptr};
}  // namespace

ResourceLookup& ModuleResources() {
    ResourceLookup* lookup = installed.load();
    return lookup ? *lookup : EmptyTable();
}

void SetModuleResources(ResourceLookup* lookup) {
    installed.store(lookup);
}
