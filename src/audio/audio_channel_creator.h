#pragma once

#include <cstdint>

namespace orbisan {

class IAudioInputChannel;
class IAudioOutputChannel;

// Makes the audio channels of the driver; the caller owns what it gets.
// Capture: (host channel id, camera channel index, host audio sink, host value).
class IAudioChannelCreator {
 public:
  virtual ~IAudioChannelCreator() = default;
  virtual IAudioInputChannel* CreateAudioCaptureChannel(uint32_t a, uint32_t b, void* c, void* d) = 0;
  virtual IAudioOutputChannel* CreateAudioOutputChannel(uint32_t a, uint32_t b, void* c, void* d) = 0;
};

}  // namespace orbisan
