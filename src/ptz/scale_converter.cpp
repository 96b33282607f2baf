#include "ptz/scale_converter.h"

namespace orbisan {

uint32_t CScaleConverter::Scale(uint32_t value) const {
  if (sourceLow_ < sourceHigh_) {
    if (value < sourceLow_) value = sourceLow_;
    if (value > sourceHigh_) value = sourceHigh_;
  } else if (sourceLow_ == sourceHigh_) {
    value = sourceLow_;
  }
  const double sourceSpan = static_cast<double>(static_cast<uint32_t>(sourceHigh_ - sourceLow_));
  const double targetSpan = static_cast<double>(static_cast<uint32_t>(targetHigh_ - targetLow_));
  if (sourceSpan == 0 || targetSpan == 0) return (targetLow_ + targetHigh_) / 2;
  const double offset = static_cast<double>(static_cast<uint32_t>(value - sourceLow_));
  return targetLow_ + static_cast<uint32_t>(offset * targetSpan / sourceSpan + 0.5);
}

}  // namespace orbisan
