#include "audio/audio_input_channel.h"

namespace orbisan {

bool AudioInputTransitionAllowed(uint32_t from, uint32_t to) {
  using namespace ipcapture;
  switch (from) {
    case kAudioStopped:
      return to == kAudioStarting;
    case kAudioStarting:
      return to == kAudioRunning || to == kAudioStopping || to == kAudioBroken;
    case kAudioRunning:
      return to == kAudioStopping || to == kAudioBroken;
    case kAudioStopping:
    case kAudioFailed:
      return to == kAudioStopped;
    case kAudioBroken:
      return to == kAudioStarting || to == kAudioStopping;
    default:
      return false;
  }
}

}  // namespace orbisan
