#pragma once

#include <cstdint>
#include <string>

#include "camera/base_camera_properties.h"
#include "device/device_info.h"
#include "strandline/capability_store.h"

namespace orbisan {

// Writes what identification learnt about a device into the host's store, in
// the order the host expects: device name, connection fields, main-stream
// codecs, resolutions and frame rates, flags and texts, the numbered
// properties. The first step that fails ends the save.
class CCapabilityResultWriter {
 public:
  CCapabilityResultWriter(CBaseCameraProperties& properties, ipcapture::ICapabilityStore& store,
                          const DEVICE_INFO& device);

  bool Save();

  // Texts of the extra streams' items: "h264,mpeg,jpeg"; "WxH:F,..." with F
  // in the frame-rate encoding; "values=A,B;default=D" (empty without rates).
  static std::string CodecsText(const StreamCapabilities& stream);
  static std::string ResolutionsText(const StreamCapabilities& stream, bool hostAtLeast64);
  static std::string FrameRatesText(const StreamCapabilities& stream, bool hostAtLeast64);

 private:
  bool SaveDeviceName();
  bool SaveConnectionFields();
  bool SaveCodecs();
  bool SaveResolutions();
  bool SaveFrameRates();
  void SaveFlagsAndTexts();
  void SaveStreamItems(uint32_t stream, uint32_t firstId, const char* prefix);
  void SaveItem(uint32_t id, const std::string& name, const std::string& value);

  CBaseCameraProperties& properties_;
  ipcapture::ICapabilityStore& store_;
  const DEVICE_INFO& device_;
};

}  // namespace orbisan
