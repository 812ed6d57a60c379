#pragma once
// A file read once into memory, under its path: what is checked is what is written.
#include <cstdint>
#include <string>
#include <vector>

struct FileBytes {
    std::string path;
    std::vector<uint8_t> bytes;
};
