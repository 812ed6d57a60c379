#pragma once
// The program's own module resources behind the image layer's lookup: FindResource,
// LoadResource and LockResource. Module resources live as long as the module.
#include <windows.h>

#include "image/ResourceTable.h"

class Win32ModuleResources : public ResourceLookup {
  public:
    explicit Win32ModuleResources(HMODULE module = nullptr) : module_(module) {}
    bool Find(const char* type, uint16_t id, ResourceBytes& bytes) const override;

  private:
    HMODULE module_;
};
