#include "capability/canon_capability_query_module.h"

#include <new>

#include "camera/acti_camera_properties.h"

namespace orbisan {

// The worker calls into this object: it must be gone before this part is.
CCanonCapabilityQueryModule::~CCanonCapabilityQueryModule() { Shutdown(); }

CBaseCameraProperties* CCanonCapabilityQueryModule::CreateCameraProperties() {
  try {
    return new CActiCameraProperties(device_, ntscDefault_);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace orbisan
