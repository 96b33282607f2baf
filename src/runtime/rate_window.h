#pragma once

#include <cstdint>
#include <mutex>

namespace orbisan {

// Frames and bytes over the last ten whole seconds, in one-second buckets:
// one lock and two additions per frame, nothing kept per frame.
class CRateWindow {
 public:
  struct Rates {
    double framesPerSecond = 0;
    double kilobitsPerSecond = 0;
  };

  // A stream starts at nowMs (monotonic): shorter histories divide by less.
  void Start(uint64_t nowMs);
  void Add(uint64_t nowMs, uint64_t bytes);
  Rates Read(uint64_t nowMs);

 private:
  static constexpr uint64_t kSeconds = 10;
  struct Bucket {
    uint64_t second = 0;
    uint64_t frames = 0;
    uint64_t bytes = 0;
  };

  std::mutex mutex_;
  uint64_t startMs_ = 0;
  Bucket buckets_[kSeconds + 1];
};

}  // namespace orbisan
