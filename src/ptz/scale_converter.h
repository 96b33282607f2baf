#pragma once

#include <cstdint>

namespace orbisan {

// Maps a value from one unsigned range onto another, rounding to the nearest
// step (halves upward). A converter is not shared between threads: callers
// that convert concurrently each use their own.
class CScaleConverter {
 public:
  CScaleConverter(uint32_t sourceLow, uint32_t sourceHigh) : sourceLow_(sourceLow), sourceHigh_(sourceHigh) {}
  virtual ~CScaleConverter() = default;

  void SetSourceRange(uint32_t low, uint32_t high) {
    sourceLow_ = low;
    sourceHigh_ = high;
  }
  void SetTargetRange(uint32_t low, uint32_t high) {
    targetLow_ = low;
    targetHigh_ = high;
  }
  uint32_t Scale(uint32_t value) const;

 private:
  uint32_t sourceLow_;
  uint32_t sourceHigh_;
  uint32_t targetLow_ = 0;
  uint32_t targetHigh_ = 0;
};

}  // namespace orbisan
