#include "channels/device_session_params.h"

namespace orbisan {

RTSP_SESSION_PARAMS DeviceSessionParams(const DEVICE_INFO& info, uint16_t rtpPort, uint16_t rtcpPort) {
  RTSP_SESSION_PARAMS params;
  params.host = info.address;
  params.userName = info.user;
  params.password = info.password;
  params.connectTimeoutMs = info.connectTimeoutMs;
  params.receiveTimeoutMs = info.connectTimeoutMs;
  params.clientRtpPort = rtpPort;
  params.clientRtcpPort = rtcpPort;
  return params;
}

}  // namespace orbisan
