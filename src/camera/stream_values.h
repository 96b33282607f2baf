#pragma once

#include <cstdint>
#include <string>

#include "device/stream_kind_settings.h"

namespace orbisan {

// Frames per second of a requested frame interval: 0 -> 1, 0x7000|fps -> fps,
// otherwise 1000 / interval rounded; never below 1.
uint32_t FrameRateFromInterval(uint32_t interval);

// The frame rate snapped to the camera's own list for its sensor: an exact
// entry stays, otherwise the largest entry below (the first when below all).
// False when no list applies to this device type and width.
bool SnapFrameRate(uint32_t rate, uint32_t deviceType, uint32_t width, const std::string& model, uint32_t& out);

// The smallest rate the capability map lists for this stream kind and size
// that is not below the wanted one (the largest when all are below); the
// wanted rate when the map has no such entry.
uint32_t CapabilityFrameRate(const StreamKindSettings& settings, uint32_t streamKind, uint32_t width, uint32_t height,
                             uint32_t wanted);

// The camera's bit-rate text for a requested value 0..100 in its group.
std::string BitrateText(uint32_t cameraGroup, uint32_t value);
// Table A (the vendor-library channel's table) at value x 9 / 100.
std::string SdkBitrateText(uint32_t value);

}  // namespace orbisan
