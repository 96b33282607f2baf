#include "sim/ptz_head.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "sim/cgi_query.h"

namespace strandline::sim {
namespace {

// Degrees per second for each move speed step; zoom factor per second per step.
constexpr double kDegreesPerStep = 12;
constexpr double kZoomPerStep = 0.5;

std::optional<int> Number(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

struct Direction {
  std::string_view name;
  int pan;
  int tilt;
  bool diagonal;
};

constexpr Direction kDirections[] = {
    {"LEFT", -1, 0, false},  {"RIGHT", 1, 0, false},  {"UP", 0, 1, false},        {"DOWN", 0, -1, false},
    {"UPLEFT", -1, 1, true}, {"UPRIGHT", 1, 1, true}, {"DOWNLEFT", -1, -1, true}, {"DOWNRIGHT", 1, -1, true},
};

}  // namespace

bool PtzHead::IsCommand(std::string_view name) {
  return name == "MOVE" || name == "ZOOM" || name == "FOCUS" || name == "PTZ_PRESET_SET" || name == "PTZ_PRESET_GO";
}

void PtzHead::Advance() const {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - since_).count();
  since_ = now;
  PtzPosition& p = state_.position;
  if (state_.moving) {
    const double step = kDegreesPerStep * state_.move_speed * seconds;
    p.pan = std::clamp(p.pan + state_.pan_direction * step, -180.0, 180.0);
    p.tilt = std::clamp(p.tilt + state_.tilt_direction * step, -90.0, 90.0);
  }
  if (state_.zooming) {
    p.zoom = std::clamp(p.zoom + state_.zoom_direction * kZoomPerStep * state_.zoom_speed * seconds, 1.0, kMaxZoom);
  }
}

void PtzHead::Hold(bool hold) {
  std::lock_guard<std::mutex> lock(mutex_);
  hold_ = hold;
  if (!hold) released_.notify_all();
}

bool PtzHead::Apply(std::string_view name, std::string_view value) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (hold_) {
    ++state_.held;
    released_.wait_for(lock, std::chrono::seconds(30), [this] { return !hold_; });
    --state_.held;
  }
  Advance();
  auto args = Split(value, ',');
  if (name == "MOVE") {
    if (args.size() == 1 && args[0] == "STOP") {
      state_.moving = false;
      state_.pan_direction = state_.tilt_direction = 0;
      return true;
    }
    for (const Direction& d : kDirections) {
      if (args.empty() || args[0] != d.name || args.size() != (d.diagonal ? 3u : 2u)) continue;
      auto speed = Number(args[1]);
      if (!speed || *speed < 1 || *speed > 5) return false;
      if (d.diagonal && Number(args[2]) != speed) return false;
      state_.moving = true;
      state_.pan_direction = d.pan;
      state_.tilt_direction = d.tilt;
      state_.move_speed = *speed;
      return true;
    }
    return false;
  }
  if (name == "ZOOM") {
    if (args.size() == 1 && args[0] == "STOP") {
      state_.zooming = false;
      state_.zoom_direction = 0;
      return true;
    }
    if (args.size() != 2) return false;
    auto number = Number(args[1]);
    if (!number) return false;
    if (args[0] == "DIRECT") {
      state_.zooming = false;
      state_.zoom_direction = 0;
      state_.position.zoom = std::clamp(1.0 + *number / 1000.0 * (kMaxZoom - 1), 1.0, kMaxZoom);
      return true;
    }
    if ((args[0] != "TELE" && args[0] != "WIDE") || *number < 1 || *number > 7) return false;
    state_.zooming = true;
    state_.zoom_direction = args[0] == "TELE" ? 1 : -1;
    state_.zoom_speed = *number;
    return true;
  }
  if (name == "FOCUS") {
    static constexpr std::string_view kFocus[] = {"NEAR", "FAR", "STOP", "MANUAL", "AUTO", "ZOOM_AF"};
    if (args.size() != 1 || std::find(std::begin(kFocus), std::end(kFocus), args[0]) == std::end(kFocus)) {
      return false;
    }
    state_.focus = std::string(args[0]);
    return true;
  }
  if (name == "PTZ_PRESET_SET") {
    // SLOT,ENABLE,... with ENABLE 1 storing the current position and 0 clearing the slot.
    if (args.size() < 2) return false;
    auto slot = Number(args[0]);
    auto enable = Number(args[1]);
    if (!slot || *slot < 1 || *slot > kPresetSlots || !enable || *enable > 1) return false;
    if (*enable == 1) {
      state_.presets[*slot] = state_.position;
    } else {
      state_.presets.erase(*slot);
    }
    return true;
  }
  if (name == "PTZ_PRESET_GO") {
    auto slot = Number(value);
    if (!slot) return false;
    auto it = state_.presets.find(*slot);
    if (it == state_.presets.end()) return false;
    state_.moving = state_.zooming = false;
    state_.pan_direction = state_.tilt_direction = state_.zoom_direction = 0;
    state_.position = it->second;
    ++state_.preset_gos;
    return true;
  }
  return false;
}

PtzState PtzHead::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  return state_;
}

}  // namespace strandline::sim
