#include "driver/acti_ip_capture_driver.h"

#include "camera/time_sync.h"
#include "device/host_parameter.h"

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

// The family's digital I/O and PTZ objects are not part of this build; the
// host gets null from their getters instead of objects that pretend to work.
bool CActiIPCaptureDriver::CreateDigitalIO() { return true; }

bool CActiIPCaptureDriver::CreatePTZHandler() { return true; }

}  // namespace orbisan
