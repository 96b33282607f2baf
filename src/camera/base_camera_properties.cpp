#include "camera/base_camera_properties.h"

#include <cmath>

#include "platform/host_version.h"

namespace orbisan {

CBaseCameraProperties::CBaseCameraProperties(const DEVICE_INFO& device, uint32_t flag)
    : device_(device), initialFlag_(flag), ntsc_(flag) {
  // An unreadable host version reads as 5.12, below both thresholds.
  const HostVersion version = ReadHostVersion();
  hostAtLeast64_ = (version[0] > 6 || (version[0] == 6 && version[1] >= 4)) ? 1 : 0;
  hostAtLeast61_ = (version[0] > 6 || (version[0] == 6 && version[1] >= 1)) ? 1 : 0;
}

uint32_t CBaseCameraProperties::EncodeFrameRate(uint32_t rate, bool hostAtLeast64) {
  if (rate == 0) return 1000;
  if (rate > 30 && hostAtLeast64) return rate | 0x70000000u;
  return static_cast<uint32_t>(std::lround(1000.0f / static_cast<float>(rate)));
}

bool CBaseCameraProperties::GetFrameRates(ipcapture::IFrameRateSink& sink) {
  const StreamCapabilities& main = streamCaps_[0];
  if (main.frameRates.empty()) return false;
  for (uint32_t rate : main.frameRates) {
    if (rate != 0) sink.Add(EncodeFrameRate(rate, hostAtLeast64_ != 0));
  }
  const uint32_t wanted = main.defaultFrameRate != 0 ? main.defaultFrameRate : *main.frameRates.rbegin() / 2;
  auto it = main.frameRates.lower_bound(wanted);
  if (it != main.frameRates.end() && *it != 0) sink.SetDefault(EncodeFrameRate(*it, hostAtLeast64_ != 0));
  return true;
}

}  // namespace orbisan
