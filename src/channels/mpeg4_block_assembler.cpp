#include "channels/mpeg4_block_assembler.h"

namespace orbisan {

namespace {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kVop = 0xB6;

bool StartCodeAt(const uint8_t* data, uint32_t i, uint8_t code) {
  return data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == code;
}

}  // namespace

bool CMpeg4BlockAssembler::Feed(const uint8_t* data, uint32_t size) {
  frame_.clear();
  if (data == nullptr || size < 5) return false;
  // One pass: the configuration that counts is the last one before the
  // first picture, so a block of nothing but start codes costs its length.
  uint32_t vop = size;
  uint32_t config = size;
  for (uint32_t i = 0; i + 4 <= size; ++i) {
    if (StartCodeAt(data, i, kVisualObjectSequence)) {
      config = i;
    } else if (StartCodeAt(data, i, kVop)) {
      vop = i;
      break;
    }
  }
  if (vop == size) return false;
  if (config < vop) configHeader_.assign(data + config, data + vop);
  // The coding type sits in the byte after the start code; a picture start
  // code at the very end has none and is no picture.
  if (vop + 4 >= size) return false;
  if (data[vop + 4] < 64) {  // intra picture
    frame_.assign(configHeader_.begin(), configHeader_.end());
    keyFrame_ = true;
    waitForKeyFrame_ = false;
  } else {
    keyFrame_ = false;
  }
  frame_.insert(frame_.end(), data + vop, data + size);
  return true;
}

}  // namespace orbisan
