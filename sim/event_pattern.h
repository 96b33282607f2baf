// Drives the simulated camera's inputs and motion detector on a schedule, for
// "strandline simulate --input-pattern MASK[,MASK...][@SECONDS]
// --motion-period SECONDS": the input register of channel 1 steps through
// the masks, and motion goes on and off.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace strandline::sim {

class SimulatedCamera;

class EventPattern {
 public:
  EventPattern() = default;
  ~EventPattern();
  EventPattern(const EventPattern&) = delete;
  EventPattern& operator=(const EventPattern&) = delete;

  // "0x00,0x01,0x03@2": masks (hexadecimal with 0x, or decimal) and the
  // seconds each stands (2 unless given). False for anything else.
  bool ParseInputPattern(const std::string& text);
  void SetMotionPeriod(std::chrono::seconds period) { motion_period_ = period; }
  bool Empty() const { return masks_.empty() && motion_period_.count() == 0; }

  void Start(SimulatedCamera& camera);
  void Stop();

 private:
  void Run(SimulatedCamera& camera);

  std::vector<uint32_t> masks_;
  std::chrono::seconds mask_period_{2};
  std::chrono::seconds motion_period_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace strandline::sim
