#include "camera/stream_values.h"

#include <cmath>
#include <vector>

namespace orbisan {

namespace {

const std::vector<std::string> kTableA = {"256K", "384K", "500K", "750K", "1M", "1.5M", "2M", "2.5M", "3M"};
const std::vector<std::string> kTableB = {"28K", "56K",  "128K", "256K", "384K", "500K", "750K",
                                          "1M",  "1.2M", "1.5M", "2M",   "2.5M", "3M",   "UNLIMITED"};
const std::vector<std::string> kTableC = {"28K", "56K",  "128K", "256K", "384K", "500K",     "750K",
                                          "1M",  "1.2M", "1.5M", "2M",   "2.5M", "3M",       "3.5M",
                                          "4M",  "4.5M", "5M",   "5.5M", "6M",   "UNLIMITED"};

const std::vector<uint32_t> kS9 = {1, 2, 3, 4, 5, 6, 8, 13, 24};
const std::vector<uint32_t> kS10 = {1, 2, 3, 4, 5, 6, 8, 10, 15, 24};
const std::vector<uint32_t> kS6 = {1, 2, 3, 4, 6, 11};
const std::vector<uint32_t> kS4 = {1, 2, 3, 5};
const std::vector<uint32_t> kK10 = {1, 2, 3, 4, 5, 6, 8, 10, 15, 25};

const std::string& Entry(const std::vector<std::string>& table, uint32_t value) {
  const uint64_t index = static_cast<uint64_t>(value) * table.size() / 100;
  return table[index < table.size() ? index : table.size() - 1];
}

uint32_t Snap(uint32_t rate, const std::vector<uint32_t>& table) {
  uint32_t chosen = table.front();
  for (uint32_t entry : table) {
    if (entry <= rate) chosen = entry;
  }
  return chosen;
}

}  // namespace

uint32_t FrameRateFromInterval(uint32_t interval) {
  if (interval == 0) return 1;
  if (((interval >> 12) & 0xF) == 0x7) {
    const uint32_t rate = interval & 0xFFF;
    return rate != 0 ? rate : 1;
  }
  // Intervals above two seconds would round to 0 fps, which no camera takes.
  const long rate = std::lround(1000.0f / static_cast<float>(interval));
  return rate > 0 ? static_cast<uint32_t>(rate) : 1;
}

bool SnapFrameRate(uint32_t rate, uint32_t deviceType, uint32_t width, const std::string& model, uint32_t& out) {
  const std::vector<uint32_t>* table = nullptr;
  if (deviceType == 0 || deviceType == 1) {
    table = &kS9;
  } else if (deviceType == 2) {
    table = &kS10;
  } else if (deviceType == 3) {
    if (width == 1920) {
      table = &kS6;
    } else if (width == 2032) {
      table = &kS4;
    } else if (width == 1280 && model.find("KCM") != std::string::npos) {
      table = &kK10;
    }
  }
  if (table == nullptr) return false;
  out = Snap(rate, *table);
  return true;
}

uint32_t CapabilityFrameRate(const StreamKindSettings& settings, uint32_t streamKind, uint32_t width, uint32_t height,
                             uint32_t wanted) {
  auto kind = settings.find(streamKind);
  if (kind == settings.end()) return wanted;
  auto size = kind->second.find({width, height});
  if (size == kind->second.end() || size->second.empty()) return wanted;
  auto it = size->second.lower_bound(wanted);
  return it != size->second.end() ? *it : *size->second.rbegin();
}

std::string BitrateText(uint32_t cameraGroup, uint32_t value) {
  switch (cameraGroup) {
    case 0:
      return Entry(kTableA, value);
    case 1:
      return Entry(kTableB, value);
    case 2:
      return Entry(kTableC, value);
    default:
      return "1M";
  }
}

std::string SdkBitrateText(uint32_t value) { return Entry(kTableA, value); }

}  // namespace orbisan
