#include "audio/audio_capture_channel.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "camera/cgi_path.h"
#include "camera/h_utils.h"
#include "device/host_parameter.h"
#include "runtime/text_utils.h"

namespace orbisan {

CAudioCaptureChannel::CAudioCaptureChannel(IDriver* driver, uint32_t cameraChannel, uint32_t channelId,
                                           ipcapture::IAudioInputSink* sink, void* hostValue)
    : CBaseAudioRTSPChannel(driver, cameraChannel, channelId, sink, hostValue),
      device_(*driver->GetDeviceInfo()),
      http_(device_),
      parser_(driver, static_cast<uint8_t>(channelId), AUDIO_FORMAT{}, this),
      portListMode_(IntParameterOr(driver, kParamDeviceType, 0)),
      audioFormatMode_(IntParameterOr(driver, kParamCameraGroup, 2)) {}

CAudioCaptureChannel::~CAudioCaptureChannel() {
  http_.Shutdown();
  StopThread(2 * device_.connectTimeoutMs);
  Client().Stop();
}

bool CAudioCaptureChannel::Stop() {
  http_.Shutdown();
  return CBaseAudioRTSPChannel::Stop();
}

std::string CAudioCaptureChannel::CameraCheckPath() const {
  CCgiPath path(cgi::kSystem, device_);
  path.Item("V2_AUDIO_ENABLED", 1u);
  if (audioFormatMode_ == 2) path.Item("AUDIO_IN_FORMAT", "G711U");
  return path.Text();
}

bool CAudioCaptureChannel::CameraCheck() {
  std::string answer;
  if (HUtils::RequestGet(http_, CameraCheckPath(), answer) && answer.find("ERROR") == std::string::npos) return true;
  if (!IsStopping()) {
    LogMessage(kLogError, "%s: The camera did not enable its audio input (%s), device %s",
               "orbisan::CAudioCaptureChannel::CameraCheck", answer.empty() ? "no answer" : Trim(answer).c_str(),
               Driver()->GetDeviceName().c_str());
  }
  return false;
}

void CAudioCaptureChannel::FillSessionParams(RTSP_SESSION_PARAMS& params) {
  params.serverPort = 7070;
  params.urlForm = static_cast<uint32_t>(portListMode_);
  if (Multicast()) params.path = "multicast";
  const std::vector<std::string> list = Split(Driver()->GetStringParameter(kParamRtspPorts), ",", false);
  if (portListMode_ == 1) {
    if (!list.empty()) {
      if (const uint16_t port = ParsePort(list[0])) params.serverPort = port;
    }
    params.trackIndex = CameraChannel() + 1;
  } else if (CameraChannel() < list.size()) {
    if (const uint16_t port = ParsePort(list[CameraChannel()])) params.serverPort = port;
  }
}

bool CAudioCaptureChannel::SdpInfoReceived(const SDP_SESSION_INFO& info) {
  const char* method = "orbisan::CAudioCaptureChannel::SdpInfoReceived";
  const std::string device = Driver()->GetDeviceName();
  const SDP_MEDIA_INFO& audio = info.audio;
  if (audio.encoding.empty() && audio.control.empty() && audio.port == 0 && audio.transportProtocol.empty()) {
    LogMessage(kLogError, "%s: RTSP response has no audio section, device %s", method, device.c_str());
    return false;
  }
  const std::string encoding = ToLower(audio.encoding);
  if (!encoding.empty() && encoding.rfind("pcmu", 0) != 0) {
    LogMessage(kLogError, "%s: Unable to handle RTP audio data from device %s - unexpected payload type \"%s\"", method,
               device.c_str(), audio.encoding.c_str());
    return false;
  }
  if (!Multicast()) return true;
  if (audio.connectionAddress.empty()) {
    LogMessage(kLogError,
               "%s: RTSP response doesn't contain connection data section. RTP multicast stream cannot be started "
               "for device %s",
               method, device.c_str());
    return false;
  }
  if (audio.port == 0) {
    LogMessage(kLogError,
               "%s: RTSP response doesn't contain correct streaming port in media section. RTP multicast stream "
               "cannot be started for device %s",
               method, device.c_str());
    return false;
  }
  return JoinGroup(audio.connectionAddress, audio.port);
}

bool CAudioCaptureChannel::AudioFrameReady(ipcapture::IAudioSample* sample) { return AcceptFrame(sample); }

}  // namespace orbisan
