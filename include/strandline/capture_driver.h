#pragma once

#include <cstdint>

#include "strandline/capture_setup.h"
#include "strandline/debug_output.h"
#include "strandline/media_sample.h"
#include "strandline/video_capture.h"

namespace orbisan::ipcapture {

class ICaptureIOApi;
class IIPPTZDriver;
class IIPPTZDriverEx;
class IIPAudioCapture2;
class IIPAudioSender;

// The driver object the host opens for one device. One table of operations:
// each version adds slots at the end.
class IIPCaptureDriver {
 public:
  virtual ~IIPCaptureDriver() = default;
  virtual bool Open(IDebugOutput* log, IMediaSampleAllocator* allocator, ICaptureSetup* setup) = 0;
  virtual void Close() = 0;
  virtual IIPVideoCapture* GetVideoCapture() = 0;
  virtual ICaptureIOApi* GetDigitalIO() = 0;
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
 public:
  virtual void* QueryReserved5() = 0;  // always null
  virtual IIPPTZDriver* GetPTZDriver() = 0;
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
 public:
  virtual void* QueryReserved7() = 0;  // always null; NOLINT(bugprone-virtual-near-miss): its own slot
  virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
 public:
  virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;
};

class IIPCaptureDriverEx4 : public IIPCaptureDriverEx3 {
 public:
  virtual IIPAudioCapture2* GetAudioCapture() = 0;
  virtual IIPAudioSender* GetAudioSender() = 0;
};

class IIPCaptureDriverEx5 : public IIPCaptureDriverEx4 {
 public:
  virtual IIPVideoCaptureEx2* GetVideoCaptureEx2() = 0;
};

}  // namespace orbisan::ipcapture
