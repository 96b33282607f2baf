#include "runtime/rate_window.h"

#include <algorithm>

namespace orbisan {

void CRateWindow::Start(uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  startMs_ = nowMs;
  for (Bucket& bucket : buckets_) bucket = Bucket{};
}

void CRateWindow::Add(uint64_t nowMs, uint64_t bytes) {
  const uint64_t second = nowMs / 1000 + 1;  // 0 marks an unused bucket
  std::lock_guard<std::mutex> lock(mutex_);
  Bucket& bucket = buckets_[second % (kSeconds + 1)];
  if (bucket.second != second) bucket = Bucket{second, 0, 0};
  ++bucket.frames;
  bucket.bytes += bytes;
}

CRateWindow::Rates CRateWindow::Read(uint64_t nowMs) {
  // The window is the ten whole seconds before the current one, or the part
  // of them since the start.
  const uint64_t current = nowMs / 1000 + 1;
  const uint64_t windowEndMs = (current - 1) * 1000;
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t windowStartMs = std::max(startMs_, windowEndMs > kSeconds * 1000 ? windowEndMs - kSeconds * 1000 : 0);
  Rates rates;
  if (windowEndMs <= windowStartMs) return rates;
  uint64_t frames = 0;
  uint64_t bytes = 0;
  for (const Bucket& bucket : buckets_) {
    if (bucket.second == 0 || bucket.second >= current || bucket.second + kSeconds < current) continue;
    frames += bucket.frames;
    bytes += bucket.bytes;
  }
  const double seconds = static_cast<double>(windowEndMs - windowStartMs) / 1000.0;
  rates.framesPerSecond = static_cast<double>(frames) / seconds;
  rates.kilobitsPerSecond = static_cast<double>(bytes) * 8 / 1000 / seconds;
  return rates;
}

}  // namespace orbisan
