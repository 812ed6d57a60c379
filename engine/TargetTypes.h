#pragma once
// What the command line, the dry run and the dialog need to know of the target types without
// reaching the boot connections themselves: their names and where a built-in loader would be.
#include <cstdint>

// The target types a request may name, 1 to 8, in words; nullptr for any other value.
const char* TargetTypeName(uint8_t targetType);
// The module resource that holds the flash loader of boot target types 1 to 7; 0 otherwise.
uint16_t SfldResourceId(uint8_t targetType);
