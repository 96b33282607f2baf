#include "device/stream_params.h"

namespace orbisan {

uint32_t DecodeFrameRate(uint32_t frameRate) {
  if ((frameRate & 0xF000u) == 0x7000u) return frameRate & 0x0FFFu;
  if (frameRate == 0) return 1;
  return static_cast<uint32_t>(1000.0 / frameRate + 0.5);
}

std::string StreamName(const std::string& driverName, uint32_t streamKind) {
  switch (streamKind) {
    case kStreamRecording:
      return driverName + "::RecStream";
    case kStreamLive:
      return driverName + "::LiveStream";
    case kStreamRemote:
      return driverName + "::RemoteStream";
    default:
      return driverName;
  }
}

}  // namespace orbisan
