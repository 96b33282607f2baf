#include "audio/audio_capabilities.h"

#include <cstdio>

#include "runtime/format.h"

namespace orbisan {

bool CAudioCapabilities::FromText(const char* text) {
  count_ = 0;
  stereo_ = false;
  unsigned count = 0;
  unsigned stereo = 0;
  if (text == nullptr || std::sscanf(text, "Count=%u; IsStereo=%u", &count, &stereo) != 2) return false;
  count_ = count;
  stereo_ = stereo == 1;
  return true;
}

std::string CAudioCapabilities::ToText() const { return Format("Count=%u; IsStereo=%u", count_, stereo_ ? 1u : 0u); }

}  // namespace orbisan
