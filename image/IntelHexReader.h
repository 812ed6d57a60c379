#pragma once
// Intel HEX text: data records placed by extended linear (04) or extended segment (02)
// address records, each line's checksum checked, and an end-of-file record that must be there.
// Start address records (03, 05) are taken and ignored.
#include <cstdint>
#include <string>

#include "image/ImageSource.h"
#include "image/LoadedData.h"

// Whether the bytes at offset begin as Intel HEX text does.
bool IsIntelHex(ImageSource& source, uint32_t offset);

// False, with the reason in `why`, when the text cannot be programmed as it is.
bool ReadIntelHex(ImageSource& source, uint32_t offset, LoadedData& data, std::string& why);
