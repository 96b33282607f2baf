#include "camera/reboot_hold_off.h"

#include <chrono>
#include <map>
#include <mutex>

namespace orbisan {

namespace {

using Clock = std::chrono::steady_clock;

std::mutex& HoldOffMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, Clock::time_point>& LastReboots() {
  static std::map<std::string, Clock::time_point> reboots;
  return reboots;
}

uint32_t LeftLocked(const std::string& device, uint32_t holdOffSeconds, Clock::time_point now) {
  const auto it = LastReboots().find(device);
  if (it == LastReboots().end()) return 0;
  const auto end = it->second + std::chrono::seconds(holdOffSeconds);
  if (now >= end) return 0;
  return static_cast<uint32_t>(std::chrono::ceil<std::chrono::seconds>(end - now).count());
}

}  // namespace

bool CRebootHoldOff::TryTake(const std::string& device, uint32_t holdOffSeconds) {
  std::lock_guard<std::mutex> lock(HoldOffMutex());
  const Clock::time_point now = Clock::now();
  if (LeftLocked(device, holdOffSeconds, now) != 0) return false;
  LastReboots()[device] = now;
  return true;
}

uint32_t CRebootHoldOff::SecondsLeft(const std::string& device, uint32_t holdOffSeconds) {
  std::lock_guard<std::mutex> lock(HoldOffMutex());
  return LeftLocked(device, holdOffSeconds, Clock::now());
}

}  // namespace orbisan
