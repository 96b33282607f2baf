#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// The camera's names for its stream modes and mounting types.
std::string StreamModeToText(uint32_t mode);           // "SINGLE" for unknown values
uint32_t TextToStreamMode(const std::string& text);    // exact match, else 0
std::string MountingTypeToText(uint32_t type);         // "CEILING" for 1, else "WALL"
uint32_t TextToMountingType(const std::string& text);  // 1 for "CEILING", else 2

}  // namespace orbisan
