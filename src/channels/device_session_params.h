#pragma once

#include <cstdint>

#include "device/device_info.h"
#include "rtsp/rtsp_session_params.h"

namespace orbisan {

// Address, credentials, time-outs and client ports of a session with the device.
RTSP_SESSION_PARAMS DeviceSessionParams(const DEVICE_INFO& info, uint16_t rtpPort, uint16_t rtcpPort);

}  // namespace orbisan
