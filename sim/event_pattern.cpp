#include "sim/event_pattern.h"

#include <cstdlib>

#include "sim/cgi_query.h"
#include "sim/simulated_camera.h"

namespace strandline::sim {

namespace {

bool ParseMask(std::string_view text, uint32_t& mask) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  const std::string digits(hex ? text.substr(2) : text);
  if (digits.empty() || digits.size() > 8) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
  if (*end != '\0' || value > 0xFF) return false;
  mask = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

EventPattern::~EventPattern() { Stop(); }

bool EventPattern::ParseInputPattern(const std::string& text) {
  std::string_view list = text;
  const size_t at = list.find('@');
  if (at != std::string_view::npos) {
    const std::string seconds(list.substr(at + 1));
    char* end = nullptr;
    const long value = std::strtol(seconds.c_str(), &end, 10);
    if (seconds.empty() || *end != '\0' || value < 1 || value > 3600) return false;
    mask_period_ = std::chrono::seconds(value);
    list = list.substr(0, at);
  }
  std::vector<uint32_t> masks;
  for (std::string_view piece : Split(list, ',')) {
    uint32_t mask = 0;
    if (!ParseMask(piece, mask)) return false;
    masks.push_back(mask);
  }
  masks_ = std::move(masks);
  return !masks_.empty();
}

void EventPattern::Start(SimulatedCamera& camera) {
  Stop();
  if (Empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = false;
  }
  thread_ = std::thread([this, &camera] { Run(camera); });
}

void EventPattern::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void EventPattern::Run(SimulatedCamera& camera) {
  using Clock = std::chrono::steady_clock;
  auto next_mask = Clock::now();
  auto next_motion = Clock::now() + motion_period_;
  size_t step = 0;
  bool motion = false;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    const auto now = Clock::now();
    if (!masks_.empty() && now >= next_mask) {
      camera.SetDigitalInputs(masks_[step++ % masks_.size()]);
      next_mask = now + mask_period_;
    }
    if (motion_period_.count() > 0 && now >= next_motion) {
      motion = !motion;
      camera.Motion().SetMotion(motion);
      next_motion = now + motion_period_;
    }
    auto wake = masks_.empty() ? next_motion : next_mask;
    if (motion_period_.count() > 0 && next_motion < wake) wake = next_motion;
    wake_.wait_until(lock, wake, [this] { return stop_; });
  }
}

}  // namespace strandline::sim
