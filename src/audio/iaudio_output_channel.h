#pragma once

#include <cstdint>

#include "strandline/audio_output.h"

namespace orbisan {

// One loudspeaker channel of the audio sender, owned by it.
class IAudioOutputChannel {
 public:
  virtual ~IAudioOutputChannel() = default;
  virtual bool Start() = 0;
  virtual bool Stop() = 0;
  virtual uint32_t GetState() = 0;
  virtual bool GetParameters(ipcapture::IAudioParameters* parameters) = 0;
  virtual bool Send(ipcapture::IAudioSample* buffer) = 0;
};

// Whether an output channel may move from one state to the other; every
// other request is ignored.
bool AudioOutputTransitionAllowed(uint32_t from, uint32_t to);

}  // namespace orbisan
