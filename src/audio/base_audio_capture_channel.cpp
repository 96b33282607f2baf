#include "audio/base_audio_capture_channel.h"

#include "runtime/format.h"

namespace orbisan {

CBaseAudioCaptureChannel::CBaseAudioCaptureChannel(IDriver* driver, uint32_t cameraChannel, uint32_t channelId,
                                                   ipcapture::IAudioInputSink* sink, void* hostValue)
    : driver_(driver), cameraChannel_(cameraChannel), channelId_(channelId), sink_(sink), hostValue_(hostValue) {
  (void)hostValue_;
}

uint32_t CBaseAudioCaptureChannel::GetState() {
  CAutoLock guard(stateLock_);
  return state_;
}

bool CBaseAudioCaptureChannel::SetState(uint32_t state) {
  CAutoLock guard(stateLock_);
  if (!AudioInputTransitionAllowed(state_, state)) return false;
  state_ = state;
  if (sink_ != nullptr) sink_->OnAudioState(channelId_, state);
  return true;
}

bool CBaseAudioCaptureChannel::AcceptFrame(ipcapture::IAudioSample* sample) {
  if (GetState() != ipcapture::kAudioRunning || sink_ == nullptr || !sink_->OnAudioSample(sample)) return false;
  lastFrame_.Touch();
  SetDeviceState(true);
  return true;
}

std::string CBaseAudioCaptureChannel::DeviceText() {
  const std::string& address = driver_->GetDeviceInfo()->address;
  if (driver_->GetChannelCount() > 1) return Format("video-server %s (channel %u)", address.c_str(), cameraChannel_);
  return "camera " + address;
}

void CBaseAudioCaptureChannel::SetDeviceState(bool ok) {
  uint32_t state = 0;
  {
    CAutoLock guard(stateLock_);
    if (signalOk_ == ok) return;
    signalOk_ = ok;
    state = state_;
  }
  const char* method = "orbisan::CBaseAudioRTSPChannel::SetDeviceState";
  const std::string device = DeviceText();
  if (ok) {
    driver_->DebugMessage(kLogInfo, "%s: Audio signal from %s is OK", method, device.c_str());
    return;
  }
  switch (state) {
    case ipcapture::kAudioStopped:
      driver_->DebugMessage(kLogInfo, "%s: Audio channel was stopped for %s", method, device.c_str());
      break;
    case ipcapture::kAudioFailed:
      driver_->DebugMessage(kLogError, "%s: Error occurs in audio channel for %s", method, device.c_str());
      break;
    case ipcapture::kAudioBroken:
      driver_->DebugMessage(kLogError, "%s: Audio signal was lost for %s", method, device.c_str());
      break;
    default:
      driver_->DebugMessage(kLogWarning, "%s: Unexpected channel status for %s", method, device.c_str());
      break;
  }
}

}  // namespace orbisan
