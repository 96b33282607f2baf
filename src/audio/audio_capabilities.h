#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// The audio capabilities of one direction as the host keeps them:
// "Count=%u; IsStereo=%u". Text without both numbers means no audio, mono.
class CAudioCapabilities {
 public:
  CAudioCapabilities() = default;
  CAudioCapabilities(uint32_t count, bool stereo) : count_(count), stereo_(stereo) {}

  // False (and count 0, mono) when the text does not hold both numbers.
  bool FromText(const char* text);
  std::string ToText() const;
  uint32_t Count() const { return count_; }
  bool IsStereo() const { return stereo_; }

 private:
  uint32_t count_ = 0;
  bool stereo_ = false;
};

}  // namespace orbisan
