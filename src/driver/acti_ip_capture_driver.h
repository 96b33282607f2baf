#pragma once

#include "driver/ip_capture_driver.h"

namespace orbisan {

// The driver for this camera family: time-outs by camera group, the stream
// capability map, and the family's I/O and PTZ objects.
class CActiIPCaptureDriver : public CIPCaptureDriver {
 public:
  CActiIPCaptureDriver() = default;
  ~CActiIPCaptureDriver() override;

  bool Open(ipcapture::IDebugOutput* log, ipcapture::IMediaSampleAllocator* allocator,
            ipcapture::ICaptureSetup* setup) override;
  void Close() override;
  bool CreateDigitalIO() override;
  bool CreatePTZHandler() override;
  const StreamKindSettings& GetStreamKindSettings() override { return streamKindSettings_; }

 private:
  StreamKindSettings streamKindSettings_;
};

}  // namespace orbisan
