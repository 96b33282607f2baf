#pragma once

#include <cstddef>
#include <deque>

namespace orbisan {

// Sliding window over the most recent samples with a running sum, so that
// the mean costs nothing per conversion.
template <typename T>
class TStatisticsHelper {
 public:
  explicit TStatisticsHelper(size_t capacity = 1000) : capacity_(capacity == 0 ? 1 : capacity) {}
  virtual ~TStatisticsHelper() = default;

  void Add(T sample) {
    samples_.push_back(sample);
    sum_ += static_cast<double>(sample);
    if (samples_.size() > capacity_) {
      sum_ -= static_cast<double>(samples_.front());
      samples_.pop_front();
    }
  }
  void Clear() {
    samples_.clear();
    sum_ = 0.0;
  }
  size_t Count() const { return samples_.size(); }
  size_t Capacity() const { return capacity_; }
  double Sum() const { return sum_; }
  double Mean() const { return samples_.empty() ? 0.0 : sum_ / static_cast<double>(samples_.size()); }

 private:
  std::deque<T> samples_;
  double sum_ = 0.0;
  size_t capacity_;
};

}  // namespace orbisan
