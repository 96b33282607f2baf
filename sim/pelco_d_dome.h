// The PTZ domes on the serial ports of a simulated camera or video server,
// one per channel, steered by the Pelco-D messages the camera passes on.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "sim/pelco_d_decoder.h"
#include "sim/ptz_head.h"

namespace strandline::sim {

struct DomeState {
  PtzPosition position;
  int pan_direction = 0;   // -1 left, 1 right
  int tilt_direction = 0;  // -1 down, 1 up
  int zoom_direction = 0;  // -1 wide, 1 tele
  int pan_speed = 0;       // 0..63 of the last move
  int tilt_speed = 0;
  int zoom_speed = 0;   // 0..3, set by its own message
  int focus_speed = 0;  // 0..3, likewise
  int focus = 0;        // -1 near, 1 far, 0 still
  int iris = 0;         // -1 close, 1 open, 0 still
  std::map<int, PtzPosition> presets;
  int preset_gos = 0;
  std::vector<PelcoDMessage> received;  // every accepted message, in order
};

class PelcoDDome {
 public:
  // The preset that takes the dome back to its widest view when not stored.
  static constexpr int kWidePreset = 95;
  // The address the dome is set to; messages for others pass it by.
  static constexpr int kAddress = 1;

  void Apply(const PelcoDMessage& message);
  DomeState State() const;

 private:
  void Advance() const;

  mutable std::mutex mutex_;
  mutable DomeState state_;
  mutable std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
};

class SerialPorts {
 public:
  explicit SerialPorts(int channels);
  // Passes "SERIAL_HEX" text to the channel's dome (1-based); false when the
  // text is no valid Pelco-D message, which then moves nothing.
  bool Write(int channel, std::string_view hex);
  // The dome of a channel; an empty state for channels that do not exist.
  DomeState State(int channel) const;

 private:
  std::vector<std::unique_ptr<PelcoDDome>> domes_;
};

}  // namespace strandline::sim
