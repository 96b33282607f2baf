#pragma once

#include <cstdint>

#include "strandline/audio_capture.h"

namespace orbisan {

using ipcapture::AudioChannelState;

// One audio input channel of the capture object, owned by it.
class IAudioInputChannel {
 public:
  virtual ~IAudioInputChannel() = default;
  // Starts the channel's thread; false when it did not start.
  virtual bool Start() = 0;
  virtual bool Stop() = 0;
  virtual uint32_t GetState() = 0;
};

// Whether an input channel may move from one state to the other; every other
// request is ignored.
bool AudioInputTransitionAllowed(uint32_t from, uint32_t to);

}  // namespace orbisan
