#pragma once
// A linked program as an ELF file: the file bytes of its loadable segments, placed at their
// physical (load) addresses. The device's toolchains write 32-bit little-endian ARM files;
// every other kind is refused with the reason.
#include <cstdint>
#include <string>

#include "image/ImageSource.h"
#include "image/LoadedData.h"

// Whether the bytes at offset begin as an ELF file does.
bool IsElf(ImageSource& source, uint32_t offset);

// Every field is checked against the file and the flash before it is believed. False, with
// the reason in `why`, when the file cannot be programmed as it is.
bool ReadElf(ImageSource& source, uint32_t offset, LoadedData& data, uint32_t& entry,
             std::string& why);
