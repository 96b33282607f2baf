#include "audio/ip_audio_capture.h"

namespace orbisan {

CIPAudioCapture::CIPAudioCapture(IAudioChannelCreator* factory, uint32_t maxChannels)
    : factory_(factory), maxChannels_(maxChannels) {}

CIPAudioCapture::~CIPAudioCapture() {
  CAutoLock guard(lock_);
  for (auto& [id, channel] : channels_) {
    channel->Stop();
    delete channel;
  }
  channels_.clear();
}

uint32_t CIPAudioCapture::GetOpenChannelCount() {
  CAutoLock guard(lock_);
  return static_cast<uint32_t>(channels_.size());
}

bool CIPAudioCapture::OpenChannel(uint32_t channelId, uint32_t cameraChannel, ipcapture::IAudioInputSink* sink,
                                  void* hostValue) {
  CAutoLock guard(lock_);
  if (channels_.count(channelId) != 0) return true;
  if (channels_.size() >= maxChannels_ || factory_ == nullptr) return false;
  IAudioInputChannel* channel = factory_->CreateAudioCaptureChannel(channelId, cameraChannel, sink, hostValue);
  if (channel == nullptr) return false;
  if (!channel->Start()) {
    channel->Stop();
    delete channel;
    return false;
  }
  channels_[channelId] = channel;
  return true;
}

bool CIPAudioCapture::CloseChannel(uint32_t channelId) {
  CAutoLock guard(lock_);
  auto it = channels_.find(channelId);
  if (it == channels_.end()) return false;
  IAudioInputChannel* channel = it->second;
  channels_.erase(it);
  const bool stopped = channel->Stop();
  delete channel;
  return stopped;
}

uint32_t CIPAudioCapture::GetChannelState(uint32_t channelId) {
  CAutoLock guard(lock_);
  auto it = channels_.find(channelId);
  return it == channels_.end() ? static_cast<uint32_t>(ipcapture::kAudioStopped) : it->second->GetState();
}

}  // namespace orbisan
