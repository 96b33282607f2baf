#pragma once

#include <cstdint>
#include <vector>

namespace orbisan {

// Turns the MPEG-4 elementary-stream blocks a streaming library hands over
// (one picture each, configuration in front of some) into frames: key frames
// carry the last configuration header seen, the rest start at their picture.
class CMpeg4BlockAssembler {
 public:
  // True when the block held a picture: Frame() and IsKeyFrame() describe it.
  bool Feed(const uint8_t* data, uint32_t size);
  const std::vector<uint8_t>& Frame() const { return frame_; }
  bool IsKeyFrame() const { return keyFrame_; }
  // Inter frames are dropped by the caller until the next key frame.
  bool WaitingForKeyFrame() const { return waitForKeyFrame_; }
  void WaitForKeyFrame() { waitForKeyFrame_ = true; }
  const std::vector<uint8_t>& ConfigHeader() const { return configHeader_; }

 private:
  std::vector<uint8_t> configHeader_;
  std::vector<uint8_t> frame_;
  bool keyFrame_ = false;
  bool waitForKeyFrame_ = true;
};

}  // namespace orbisan
