#include "platform/win32/Win32Resources.h"

bool Win32ModuleResources::Find(const char* type, uint16_t id, ResourceBytes& bytes) const {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    if (found == nullptr) {
        return false;
    }
    HGLOBAL loaded = LoadResource(module_, found);
    if (loaded == nullptr) {
        return false;
    }
    const void* data = LockResource(loaded);
    if (data == nullptr) {
        return false;
    }
    bytes.data = static_cast<const uint8_t*>(data);
    bytes.size = SizeofResource(module_, found);
    return true;
}
