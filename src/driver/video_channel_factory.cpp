#include "channels/common_channel.h"
#include "channels/sdk_channel.h"
#include "device/host_parameter.h"
#include "driver/ip_capture_driver.h"

namespace orbisan {

// Codec dispatch. MPEG-4 of camera group 3 goes through the vendor streaming
// library.
ICameraChannel* CIPCaptureDriver::CreateCodecChannel(uint32_t channelIndex, ipcapture::IVideoFrameSink* sink,
                                                     const STREAM_PARAMS& params) {
  switch (params.codec) {
    case kCodecMjpeg:
      return new CMJPEGChannelRTSP(channelIndex, this, sink);
    case kCodecMpeg4:
      if (GetIntParameter(kParamCameraGroup) == 3) return new CSDKChannel(channelIndex, this, sink);
      return new CMPEGChannelRTSP(channelIndex, this, sink);
    case kCodecH264:
      return new CH264ChannelRTSP(channelIndex, this, sink);
    default:
      return nullptr;
  }
}

}  // namespace orbisan
