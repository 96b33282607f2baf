#include "device/configuration_text.h"

#include <array>

namespace orbisan {

namespace {

constexpr std::array<const char*, 5> kStreamModes = {"SINGLE", "DUAL", "EPTZ", "MD_PRESET", "FISHEYE_VIEW"};

}  // namespace

std::string StreamModeToText(uint32_t mode) { return mode < kStreamModes.size() ? kStreamModes[mode] : "SINGLE"; }

uint32_t TextToStreamMode(const std::string& text) {
  for (uint32_t i = 0; i < kStreamModes.size(); ++i) {
    if (text == kStreamModes[i]) return i;
  }
  return 0;
}

std::string MountingTypeToText(uint32_t type) { return type == 1 ? "CEILING" : "WALL"; }

uint32_t TextToMountingType(const std::string& text) { return text == "CEILING" ? 1 : 2; }

}  // namespace orbisan
