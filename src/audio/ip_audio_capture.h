#pragma once

#include <cstdint>

#include "audio/audio_channel_creator.h"
#include "audio/audio_channel_set.h"
#include "audio/audio_input_channel.h"
#include "strandline/audio_capture.h"

namespace orbisan {

// The host's audio capture object: one input channel per host channel id, at
// most maxChannels at once.
class CIPAudioCapture : public ipcapture::IIPAudioCapture2 {
 public:
  CIPAudioCapture(IAudioChannelCreator* factory, uint32_t maxChannels);
  ~CIPAudioCapture() override;
  CIPAudioCapture(const CIPAudioCapture&) = delete;
  CIPAudioCapture& operator=(const CIPAudioCapture&) = delete;

  uint32_t GetOpenChannelCount() override;
  bool OpenChannel(uint32_t channelId, uint32_t cameraChannel, ipcapture::IAudioInputSink* sink,
                   void* hostValue) override;
  bool CloseChannel(uint32_t channelId) override;
  uint32_t GetChannelState(uint32_t channelId) override;
  bool Reserved5(uint32_t, void*, void*) override { return false; }
  bool Reserved6(uint32_t, void*, void*) override { return false; }

 private:
  IAudioChannelCreator* factory_;
  CAudioChannelSet<IAudioInputChannel> channels_;
};

}  // namespace orbisan
