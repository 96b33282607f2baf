#pragma once

#include <cstdint>

#include "audio/audio_channel_creator.h"
#include "audio/audio_channel_set.h"
#include "audio/iaudio_output_channel.h"
#include "strandline/audio_output.h"

namespace orbisan {

// The host's audio sender: one loudspeaker channel per host channel id, at
// most maxChannels at once.
class CIPAudioSender : public ipcapture::IIPAudioSender {
 public:
  CIPAudioSender(IAudioChannelCreator* factory, uint32_t maxChannels);
  ~CIPAudioSender() override;
  CIPAudioSender(const CIPAudioSender&) = delete;
  CIPAudioSender& operator=(const CIPAudioSender&) = delete;

  uint32_t GetOpenChannelCount() override;
  bool OpenChannel(uint32_t channelId, uint32_t cameraChannel, ipcapture::IAudioOutputObserver* observer,
                   ipcapture::IAudioFormatList* formats) override;
  bool CloseChannel(uint32_t channelId) override;
  bool SendAudio(ipcapture::IAudioSample* buffer) override;
  bool GetChannelParameters(uint32_t channelId, ipcapture::IAudioParameters* parameters) override;
  uint32_t GetChannelState(uint32_t channelId) override;
  bool Reserved7(uint32_t, void*, void*) override { return false; }
  bool Reserved8(uint32_t, void*, void*) override { return false; }

 private:
  IAudioChannelCreator* factory_;
  CAudioChannelSet<IAudioOutputChannel> channels_;
};

}  // namespace orbisan
