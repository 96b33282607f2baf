// The pan/tilt/zoom head of a simulated PTZ camera: it takes the encoder
// CGI's MOVE, ZOOM, FOCUS and preset commands and keeps a virtual position.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace strandline::sim {

struct PtzPosition {
  double pan = 0;   // degrees, negative = left
  double tilt = 0;  // degrees, negative = down
  double zoom = 1;  // magnification, 1..kMaxZoom
};

// A snapshot of the head.
struct PtzState {
  PtzPosition position;
  bool moving = false;                 // pan or tilt under way
  bool zooming = false;                // zoom under way
  int pan_direction = 0;               // -1 left, 0, 1 right
  int tilt_direction = 0;              // -1 down, 0, 1 up
  int zoom_direction = 0;              // -1 wide, 0, 1 tele
  int move_speed = 0;                  // 1..5 of the last move
  int zoom_speed = 0;                  // 2..7 of the last zoom
  std::string focus = "AUTO";          // last focus mode or motion: AUTO, ZOOM_AF, MANUAL, NEAR, FAR, STOP
  std::map<int, PtzPosition> presets;  // stored slots (1-based)
  int preset_gos = 0;                  // PTZ_PRESET_GO commands accepted
  int held = 0;                        // commands waiting behind Hold
};

class PtzHead {
 public:
  static constexpr double kMaxZoom = 18;
  static constexpr int kPresetSlots = 128;

  // Applies one command item (name "MOVE", value "LEFT,3"); false when the
  // head refuses it (the camera then answers ERROR).
  bool Apply(std::string_view name, std::string_view value);
  static bool IsCommand(std::string_view name);
  PtzState State() const;
  // A head busy with something else: commands wait (at most 30 s each) until
  // released, as on a camera that answers slowly.
  void Hold(bool hold);

 private:
  // Brings the position up to now from the motion under way.
  void Advance() const;

  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool hold_ = false;
  mutable PtzState state_;
  mutable std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
};

}  // namespace strandline::sim
