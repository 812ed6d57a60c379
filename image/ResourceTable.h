#pragma once
// Module resources: (type, numeric id) -> bytes. The Win32 layer looks them up in the
// program's own module; elsewhere the table is empty unless a test registers something.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct ResourceBytes {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// The seam. The bytes found must stay valid while a source reads them (module resources
// live as long as the module).
class ResourceLookup {
  public:
    virtual ~ResourceLookup() = default;
    virtual bool Find(const char* type, uint16_t id, ResourceBytes& bytes) const = 0;
};

// An in-memory lookup. Registering again under the same key replaces the bytes, so close
// sources reading the old ones first.
class ResourceTable : public ResourceLookup {
  public:
    void Register(const std::string& type, uint16_t id, std::vector<uint8_t> bytes);
    void Remove(const std::string& type, uint16_t id);
    bool Find(const char* type, uint16_t id, ResourceBytes& bytes) const override;

  private:
    std::map<std::pair<std::string, uint16_t>, std::vector<uint8_t>> entries_;
};

// The resources of the running program. Until a platform installs its own lookup this is an
// empty process-wide ResourceTable; passing nullptr goes back to it.
ResourceLookup& ModuleResources();
void SetModuleResources(ResourceLookup* lookup);
