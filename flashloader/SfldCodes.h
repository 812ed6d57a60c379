#pragma once
// The byte codes of the flash loader's dialogue, one byte each on the line.
#include <cstdint>

namespace sfld {

constexpr uint8_t OK_CODE = 0x55;
constexpr uint8_t SYNC_CODE = 0xAA;
constexpr uint8_t VERSION_CODE = 0x90;
constexpr uint8_t FLASH_ID_CODE = 0x91;
constexpr uint8_t ERASE_CODE = 0x6A;
constexpr uint8_t BOOT_RELOAD = 0x07;
constexpr uint8_t REC_WAIT_CODE = 0x77;
constexpr uint8_t BAD_CSUM = 0x81;
constexpr uint8_t BAD_LENGTH = 0x82;
constexpr uint8_t BAD_COMMAND = 0x83;
constexpr uint8_t PROGRAM_FAIL = 0x84;
constexpr uint8_t RECORD_TIMEOUT = 0x85;
constexpr uint8_t NO_REC_END = 0x88;
// Sent by some loaders while they erase; it means nothing to the host.
constexpr uint8_t ERASE_IDLE = 0x8A;
constexpr uint8_t PARAM_CODE = 0x8E;
constexpr uint8_t SECTOR_ERASED = 0x8F;
constexpr uint8_t FLASH_FULL_CODE = 0x92;

}  // namespace sfld
