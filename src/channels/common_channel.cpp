#include "channels/common_channel.h"

#include <cstdlib>
#include <vector>

#include "camera/reboot_hold_off.h"
#include "device/configuration.h"
#include "device/host_parameter.h"
#include "runtime/format.h"
#include "runtime/text_utils.h"

namespace orbisan {

CCommonChannel::CCommonChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink)
    : CBaseRTSPChannel(channelIndex, driver, sink),
      cameraGroup_(IntParameterOr(driver, kParamCameraGroup, 1)),
      deviceType_(IntParameterOr(driver, kParamDeviceType, 0)),
      channelMode_(IntParameterOr(driver, kParamChannelMode, 0)),
      mountingType_(IntParameterOr(driver, kParamMountingType, 0)),
      deviceInfo_(*driver->GetDeviceInfo()),
      http_(deviceInfo_),
      privacy_(driver, channelIndex) {}

CCommonChannel::~CCommonChannel() { StopFromDestructor(); }

void CCommonChannel::SetPrivacyMask(ipcapture::IPrivacyZoneList* zones) {
  // The camera has one set of masks, written by the recording stream only.
  if (Params().streamKind == kStreamRecording) privacy_.SetZones(zones);
}

void CCommonChannel::AdjustStreamingMode(uint32_t& mode) {
  if (cameraGroup_ == 0) mode = 0;
}

bool CCommonChannel::ConfigureCodec(CStreamConfigurator::Codec codec) {
  if (StreamingMode() == 2) return true;  // multicast as the camera sends it, no set-up
  CStreamConfigurator configurator(Driver(), http_, GetChannelIndex(), Params(), &StopEvent());
  configurator.SetStreamingMode(StreamingMode());
  if (configurator.ConfigureStream(codec)) return true;
  if (IsStopRequested()) return false;
  const std::string where = Format("%s:%u", deviceInfo_.address.c_str(), static_cast<unsigned>(deviceInfo_.port));
  const uint32_t status = http_.GetStatusCode();
  if (status == 401) {
    ReportFailure(kFailureHttpCredentials, "the camera refused the user name or password over HTTP (401) at " + where);
  } else if (status == 0 && !http_.GetLastErrorText().empty()) {
    ReportFailure(kFailureHttpConnection, "no HTTP answer from " + where + " (" + http_.GetLastErrorText() + ")");
  }
  return false;
}

void CCommonChannel::OnStopThread() {
  CBaseRTSPChannel::OnStopThread();
  http_.Shutdown();
}

void CCommonChannel::OnStartThread() {
  CBaseRTSPChannel::OnStartThread();
  http_.Resume();
}

void CCommonChannel::SessionFailed(uint32_t kind, uint32_t status, int error, const std::string& problem) {
  if (kind == kRtspDescribe) describeStatus_.store(status);
  CBaseRTSPChannel::SessionFailed(kind, status, error, problem);
}

void CCommonChannel::DescribeFailed() {
  // Our own stop cuts an answer short, and a camera that answers "busy"
  // (503) or refuses the request (4xx) has a working RTSP service: only
  // silence, an unreadable answer or a server error calls for a reboot.
  const uint32_t status = describeStatus_.load();
  if (IsStopRequested() || SessionStopping() || status == 503 || (status != 0 && status < 500)) return;
  const uint32_t holdOff = CConfiguration(Driver()).GetRebootHoldOffSeconds();
  const std::string device = Driver()->GetDeviceName();
  if (!CRebootHoldOff::TryTake(device, holdOff)) {
    LogMessage(kLogWarning,
               "%s: RTSP service of device %s failed again; reboot held back, the last one was less than %u s ago "
               "(%u s to go)",
               "orbisan::CCommonChannel::DescribeFailed", device.c_str(), holdOff,
               CRebootHoldOff::SecondsLeft(device, holdOff));
    return;
  }
  CStreamConfigurator configurator(Driver(), http_, GetChannelIndex(), Params(), &StopEvent());
  configurator.SaveAndReboot();
}

void CCommonChannel::FillSessionParams(RTSP_SESSION_PARAMS& params) {
  privacy_.ApplyZones(Params());
  // The RTSP client sends no keep-alive in a multicast session by itself.
  if (StreamingMode() != 0) params.path = "multicast";
  params.serverPort = 7070;
  params.urlForm = static_cast<uint32_t>(deviceType_);
  const std::string ports = Driver()->GetStringParameter(kParamRtspPorts);
  if (ports.empty()) return;
  const std::vector<std::string> list = Split(ports, ",", false);
  if (deviceType_ != 1) {
    if (GetChannelIndex() < list.size()) {
      if (const uint16_t port = ParsePort(list[GetChannelIndex()])) params.serverPort = port;
    }
    if (channelMode_ == 1 || channelMode_ == 3) {
      switch (Params().streamKind) {
        case kStreamLive:
          params.path += "/track2";
          break;
        case kStreamRemote:
          params.path += "/track3";
          break;
        default:
          params.path += "/track1";
          break;
      }
    }
  } else {
    if (!list.empty()) {
      if (const uint16_t port = ParsePort(list[0])) params.serverPort = port;
    }
    params.trackIndex = GetChannelIndex() + 1;
  }
}

}  // namespace orbisan
