#pragma once

// Waits for a condition that another thread makes true, with a generous
// bound so that a slow machine is not taken for a fault.

#include <chrono>
#include <thread>

namespace orbisan::test {

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace orbisan::test
