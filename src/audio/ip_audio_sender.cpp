#include "audio/ip_audio_sender.h"

namespace orbisan {

CIPAudioSender::CIPAudioSender(IAudioChannelCreator* factory, uint32_t maxChannels)
    : factory_(factory), channels_(maxChannels) {}

CIPAudioSender::~CIPAudioSender() = default;

uint32_t CIPAudioSender::GetOpenChannelCount() { return channels_.Count(); }

bool CIPAudioSender::OpenChannel(uint32_t channelId, uint32_t cameraChannel, ipcapture::IAudioOutputObserver* observer,
                                 ipcapture::IAudioFormatList* formats) {
  return channels_.Open(channelId, [&]() -> IAudioOutputChannel* {
    return factory_ == nullptr ? nullptr
                               : factory_->CreateAudioOutputChannel(channelId, cameraChannel, observer, formats);
  });
}

bool CIPAudioSender::CloseChannel(uint32_t channelId) { return channels_.Close(channelId); }

bool CIPAudioSender::SendAudio(ipcapture::IAudioSample* buffer) {
  if (buffer == nullptr) return false;
  return channels_.With(buffer->GetChannelId() & 0xFFu, false,
                        [buffer](IAudioOutputChannel* channel) { return channel->Send(buffer); });
}

bool CIPAudioSender::GetChannelParameters(uint32_t channelId, ipcapture::IAudioParameters* parameters) {
  return channels_.With(channelId, false,
                        [parameters](IAudioOutputChannel* channel) { return channel->GetParameters(parameters); });
}

uint32_t CIPAudioSender::GetChannelState(uint32_t channelId) {
  return channels_.With(channelId, static_cast<uint32_t>(ipcapture::kAudioStopped),
                        [](IAudioOutputChannel* channel) { return channel->GetState(); });
}

}  // namespace orbisan
