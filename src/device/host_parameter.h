#pragma once

#include <cstdint>

namespace orbisan {

// Indices of the host's numbered device parameters, read with
// IDriver::GetStringParameter and GetIntParameter. 1 to 16 are the device
// properties that identification writes and the channels read back.
enum HostParameter : uint32_t {
  kParamVideoStandard = 1,
  kParamCameraBrand = 2,
  kParamFpsInPercents = 3,
  kParamDayNight = 4,
  kParamCameraGroup = 5,
  kParamPtzProtocol = 6,
  kParamRtspPorts = 7,  // comma-separated, one per channel
  kParamFirmwareVersion = 8,
  kParamMacAddress = 9,
  kParamDisableB2AndAuth = 10,  // the B2 switch value
  kParamDisableB2String = 11,   // the B2 switch name
  kParamDeviceType = 12,
  kParamChannelMode = 13,
  kParamMountingType = 14,
  kParamStreamCapabilities = 15,
  kParamPrivacyMaskCount = 16,
  kParamLastDeviceProperty = kParamPrivacyMaskCount,
  kParamAudioInput = 101,   // "Count=%u; IsStereo=%u"
  kParamAudioOutput = 102,  // likewise
};

}  // namespace orbisan
