#pragma once

#include "ptz/base_ptz_handler.h"

namespace orbisan {

// The family's PTZ driver object. Presets go to "<name>_<MAC>.preset" in the
// host's directory, the MAC taken from the host's parameter 9.
class CActiPTZHandler : public CBasePTZHandler {
 public:
  CActiPTZHandler(IDriver* driver, uint32_t channelCount, const std::string& name)
      : CBasePTZHandler(driver, channelCount, name) {}
  ~CActiPTZHandler() override { ReleaseControls(); }

  bool GenerateXMLStorageFileName(std::string& fileName) override;
  CBasePTZControl* CreatePTZControl(uint32_t channel, bool storage) override;

  // Letters and digits of a MAC address text, upper case.
  static std::string CleanMac(const std::string& text);
};

}  // namespace orbisan
