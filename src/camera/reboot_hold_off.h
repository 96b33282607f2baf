#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// Keeps a device from being rebooted again and again for the same trouble:
// one reboot per device (by name) within the hold-off, across all channels
// and driver objects of the process.
class CRebootHoldOff {
 public:
  // True (and the device's hold-off starts now) when the device was not
  // rebooted within the last holdOffSeconds.
  static bool TryTake(const std::string& device, uint32_t holdOffSeconds);
  // Seconds left of the device's hold-off; 0 when none runs.
  static uint32_t SecondsLeft(const std::string& device, uint32_t holdOffSeconds);
};

}  // namespace orbisan
