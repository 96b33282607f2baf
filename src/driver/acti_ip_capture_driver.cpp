#include "driver/acti_ip_capture_driver.h"

#include <new>

#include "camera/time_sync.h"
#include "device/host_parameter.h"
#include "io/acti_digital_io.h"
#include "ptz/acti_ptz_handler.h"

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

bool CActiIPCaptureDriver::CreatePTZHandler() {
  if (!ptzHandler_) {
    const std::string brand = GetStringParameter(kParamCameraBrand);
    ptzHandler_.reset(new (std::nothrow) CActiPTZHandler(this, channelCount_, brand.empty() ? "ACTi" : brand));
  }
  return ptzHandler_ != nullptr;
}

}  // namespace orbisan
