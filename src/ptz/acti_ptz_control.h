#pragma once

#include "ptz/base_ptz_control.h"

namespace orbisan {

// The family's PTZ control: URL commands or serial-port commands by the
// host's "PTZ Protocol" parameter.
class CActiPTZControl : public CBasePTZControl {
 public:
  CActiPTZControl(IDriver* driver, uint32_t channel, bool storage) : CBasePTZControl(driver, channel, storage) {}
  ~CActiPTZControl() override { Close(); }

  CBasePTZComm* CreatePTZComm() override;
};

}  // namespace orbisan
