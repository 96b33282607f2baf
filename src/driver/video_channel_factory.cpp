#include "driver/ip_capture_driver.h"

namespace orbisan {

// Codec dispatch: 1 MJPEG, 2 MPEG-4 (vendor library for camera group 3),
// 3 H.264. The RTSP channel classes plug in here.
ICameraChannel* CIPCaptureDriver::CreateCodecChannel(uint32_t, ipcapture::IVideoFrameSink*, const STREAM_PARAMS&) {
  return nullptr;
}

}  // namespace orbisan
