#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "device/stream_params.h"

namespace orbisan {

struct StreamResolution {
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t maxFrameRate = 0;
};

// What one stream of a device offers.
struct StreamCapabilities {
  std::set<uint32_t> codecs;                  // VideoCodec values
  std::vector<StreamResolution> resolutions;  // in the order found
  std::set<uint32_t> frameRates;
  uint32_t defaultFrameRate = 0;  // 0: none

  // Appends a new size, or raises the highest rate of a listed one.
  void AddResolution(uint32_t width, uint32_t height, uint32_t frameRate) {
    for (StreamResolution& r : resolutions) {
      if (r.width == width && r.height == height) {
        if (frameRate > r.maxFrameRate) r.maxFrameRate = frameRate;
        return;
      }
    }
    resolutions.push_back({static_cast<uint16_t>(width), static_cast<uint16_t>(height), frameRate});
  }
};

}  // namespace orbisan
