#pragma once

#include "capability/capability_query_module.h"

namespace orbisan {

// The module the exports create: identifies devices of this camera family.
class CCanonCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  using CCapabilityQueryModule::CCapabilityQueryModule;
  ~CCanonCapabilityQueryModule() override;

  CBaseCameraProperties* CreateCameraProperties() override;
};

}  // namespace orbisan
