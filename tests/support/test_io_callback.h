#pragma once

// The host's I/O callback for tests: input changes in order, with the time
// each arrived, and the number of failures.

#include <atomic>
#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

#include "strandline/capture_io.h"

namespace orbisan::test {

class TestIOCallback : public ipcapture::IIOCallback {
 public:
  using Change = std::pair<uint32_t, uint32_t>;  // index, state
  void OnInputStateChanged(uint32_t index, uint32_t state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    changes_.emplace_back(index, state);
    last_ = std::chrono::steady_clock::now();
  }
  void OnIOFailure() override { ++failures; }
  std::vector<Change> Changes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
  }
  std::chrono::steady_clock::time_point LastChangeAt() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }
  std::atomic<int> failures{0};

 private:
  std::mutex mutex_;
  std::vector<Change> changes_;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace orbisan::test
