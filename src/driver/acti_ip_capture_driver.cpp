#include "driver/acti_ip_capture_driver.h"

#include "camera/time_sync.h"
#include "device/host_parameter.h"
#include "io/acti_digital_io.h"

namespace orbisan {

CActiIPCaptureDriver::~CActiIPCaptureDriver() { CActiIPCaptureDriver::Close(); }

bool CActiIPCaptureDriver::Open(ipcapture::IDebugOutput* log, ipcapture::IMediaSampleAllocator* allocator,
                                ipcapture::ICaptureSetup* setup) {
  if (!CIPCaptureDriver::Open(log, allocator, setup)) return false;
  deviceInfo_.connectTimeoutMs = 5000;
  deviceInfo_.signalTimeoutMs = 15000;
  const int32_t group = GetIntParameter(kParamCameraGroup);
  if (group == 0) {
    deviceInfo_.connectTimeoutMs = 10000;
    deviceInfo_.signalTimeoutMs = 30000;
  }
  if (GetIntParameter(kParamVideoStandard) != kNoIntParameter) videoStandard_ = GetIntParameter(kParamVideoStandard);
  LogDriverOpened(GetStringParameter(kParamFirmwareVersion));
  streamKindSettings_ = ParseStreamKindSettings(GetStringParameter(kParamStreamCapabilities));
  if (group == 2) TimeSyncRegister(this);
  return true;
}

void CActiIPCaptureDriver::Close() {
  TimeSyncUnregister(this);
  CIPCaptureDriver::Close();
}

bool CActiIPCaptureDriver::CreateDigitalIO() {
  if (!digitalIO_) digitalIO_ = std::make_unique<CActiDigitalIO>(this);
  return digitalIO_ != nullptr;
}

// The family's PTZ object is not part of this build; the host gets null from
// its getters instead of an object that pretends to work.
bool CActiIPCaptureDriver::CreatePTZHandler() { return true; }

}  // namespace orbisan
