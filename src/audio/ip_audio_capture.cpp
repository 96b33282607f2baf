#include "audio/ip_audio_capture.h"

namespace orbisan {

CIPAudioCapture::CIPAudioCapture(IAudioChannelCreator* factory, uint32_t maxChannels)
    : factory_(factory), channels_(maxChannels) {}

CIPAudioCapture::~CIPAudioCapture() = default;

uint32_t CIPAudioCapture::GetOpenChannelCount() { return channels_.Count(); }

bool CIPAudioCapture::OpenChannel(uint32_t channelId, uint32_t cameraChannel, ipcapture::IAudioInputSink* sink,
                                  void* hostValue) {
  return channels_.Open(channelId, [&]() -> IAudioInputChannel* {
    return factory_ == nullptr ? nullptr
                               : factory_->CreateAudioCaptureChannel(channelId, cameraChannel, sink, hostValue);
  });
}

bool CIPAudioCapture::CloseChannel(uint32_t channelId) { return channels_.Close(channelId); }

uint32_t CIPAudioCapture::GetChannelState(uint32_t channelId) {
  return channels_.With(channelId, static_cast<uint32_t>(ipcapture::kAudioStopped),
                        [](IAudioInputChannel* channel) { return channel->GetState(); });
}

}  // namespace orbisan
