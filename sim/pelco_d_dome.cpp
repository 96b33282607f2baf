#include "sim/pelco_d_dome.h"

#include <algorithm>

namespace strandline::sim {
namespace {

// Degrees per second per speed step; magnification per second per zoom step.
constexpr double kDegreesPerStep = 1.5;
constexpr double kZoomPerStep = 1.0;

}  // namespace

void PelcoDDome::Advance() const {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - since_).count();
  since_ = now;
  PtzPosition& p = state_.position;
  p.pan = std::clamp(p.pan + state_.pan_direction * kDegreesPerStep * state_.pan_speed * seconds, -180.0, 180.0);
  p.tilt = std::clamp(p.tilt + state_.tilt_direction * kDegreesPerStep * state_.tilt_speed * seconds, -90.0, 90.0);
  p.zoom = std::clamp(p.zoom + state_.zoom_direction * kZoomPerStep * (state_.zoom_speed + 1) * seconds, 1.0,
                      PtzHead::kMaxZoom);
}

void PelcoDDome::Apply(const PelcoDMessage& m) {
  std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  state_.received.push_back(m);
  if (m.address != kAddress) return;
  using Extended = PelcoDMessage::Extended;
  switch (m.extended) {
    case Extended::kNone:
      // A standard message replaces whatever motion was under way.
      state_.pan_direction = m.pan;
      state_.tilt_direction = m.tilt;
      state_.zoom_direction = m.zoom;
      state_.pan_speed = m.pan != 0 ? std::min(m.pan_speed, 63) : 0;
      state_.tilt_speed = m.tilt != 0 ? std::min(m.tilt_speed, 63) : 0;
      state_.focus = m.focus;
      state_.iris = m.iris;
      return;
    case Extended::kSetPreset:
      state_.presets[m.argument] = state_.position;
      return;
    case Extended::kClearPreset:
      state_.presets.erase(m.argument);
      return;
    case Extended::kGoToPreset: {
      state_.pan_direction = state_.tilt_direction = state_.zoom_direction = 0;
      auto it = state_.presets.find(m.argument);
      if (it != state_.presets.end()) {
        state_.position = it->second;
        ++state_.preset_gos;
      } else if (m.argument == kWidePreset) {
        state_.position.zoom = 1;
      }
      return;
    }
    case Extended::kSetZoomSpeed:
      state_.zoom_speed = std::min(m.argument, 3);
      return;
    case Extended::kSetFocusSpeed:
      state_.focus_speed = std::min(m.argument, 3);
      return;
    case Extended::kAutoFocus:
    case Extended::kAutoIris:
      state_.focus = state_.iris = 0;
      return;
  }
}

DomeState PelcoDDome::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  return state_;
}

SerialPorts::SerialPorts(int channels) {
  for (int i = 0; i < std::max(channels, 1); ++i) domes_.push_back(std::make_unique<PelcoDDome>());
}

bool SerialPorts::Write(int channel, std::string_view hex) {
  if (channel < 1 || channel > static_cast<int>(domes_.size())) return false;
  auto message = DecodePelcoD(hex);
  if (!message) return false;
  domes_[static_cast<size_t>(channel - 1)]->Apply(*message);
  return true;
}

DomeState SerialPorts::State(int channel) const {
  if (channel < 1 || channel > static_cast<int>(domes_.size())) return {};
  return domes_[static_cast<size_t>(channel - 1)]->State();
}

}  // namespace strandline::sim
