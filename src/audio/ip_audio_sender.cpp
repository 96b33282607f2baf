#include "audio/ip_audio_sender.h"

namespace orbisan {

CIPAudioSender::CIPAudioSender(IAudioChannelCreator* factory, uint32_t maxChannels)
    : factory_(factory), maxChannels_(maxChannels) {}

CIPAudioSender::~CIPAudioSender() {
  CAutoLock guard(lock_);
  for (auto& [id, channel] : channels_) {
    channel->Stop();
    delete channel;
  }
  channels_.clear();
}

IAudioOutputChannel* CIPAudioSender::Find(uint32_t channelId) {
  auto it = channels_.find(channelId);
  return it == channels_.end() ? nullptr : it->second;
}

uint32_t CIPAudioSender::GetOpenChannelCount() {
  CAutoLock guard(lock_);
  return static_cast<uint32_t>(channels_.size());
}

bool CIPAudioSender::OpenChannel(uint32_t channelId, uint32_t cameraChannel, ipcapture::IAudioOutputObserver* observer,
                                 ipcapture::IAudioFormatList* formats) {
  CAutoLock guard(lock_);
  if (channels_.count(channelId) != 0) return true;
  if (channels_.size() >= maxChannels_ || factory_ == nullptr) return false;
  IAudioOutputChannel* channel = factory_->CreateAudioOutputChannel(channelId, cameraChannel, observer, formats);
  if (channel == nullptr) return false;
  if (!channel->Start()) {
    channel->Stop();
    delete channel;
    return false;
  }
  channels_[channelId] = channel;
  return true;
}

bool CIPAudioSender::CloseChannel(uint32_t channelId) {
  CAutoLock guard(lock_);
  IAudioOutputChannel* channel = Find(channelId);
  if (channel == nullptr) return false;
  channels_.erase(channelId);
  const bool stopped = channel->Stop();
  delete channel;
  return stopped;
}

bool CIPAudioSender::SendAudio(ipcapture::IAudioSample* buffer) {
  if (buffer == nullptr) return false;
  CAutoLock guard(lock_);
  IAudioOutputChannel* channel = Find(buffer->GetChannelId() & 0xFFu);
  return channel != nullptr && channel->Send(buffer);
}

bool CIPAudioSender::GetChannelParameters(uint32_t channelId, ipcapture::IAudioParameters* parameters) {
  CAutoLock guard(lock_);
  IAudioOutputChannel* channel = Find(channelId);
  return channel != nullptr && channel->GetParameters(parameters);
}

uint32_t CIPAudioSender::GetChannelState(uint32_t channelId) {
  CAutoLock guard(lock_);
  IAudioOutputChannel* channel = Find(channelId);
  return channel == nullptr ? static_cast<uint32_t>(ipcapture::kAudioStopped) : channel->GetState();
}

}  // namespace orbisan
