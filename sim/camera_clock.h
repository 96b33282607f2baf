// The simulated camera's own clock, set with DATE_CONFIG.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

namespace strandline::sim {

// Keeps the camera time as an offset from the host's clock, so that a camera
// set to some moment keeps running from there. The DATE_CONFIG text is
// "<mode>,MMDD0000YYYY,HH:MM:SS,<zone>" with the zone as "+HH" or "-HH".
class CameraClock {
 public:
  CameraClock() = default;

  // False (and nothing changes) when the text is not a valid date and time,
  // or while the camera refuses to be set.
  bool Set(std::string_view text);
  // Puts the camera this far off the host's clock (a camera that drifted).
  void SetOffset(std::chrono::seconds offset);
  // While refusing, every DATE_CONFIG change is answered with ERROR.
  void SetRefusing(bool refusing);
  // Changes accepted so far.
  int SetCount() const;
  // The current camera time in the DATE_CONFIG form.
  std::string Text() const;
  // Camera time minus host time.
  std::chrono::seconds Offset() const;

  // Parses a DATE_CONFIG text into seconds since 1970 (UTC, zone applied) and
  // its mode and zone fields; false for anything malformed or out of range.
  static bool Parse(std::string_view text, long long* utc_seconds, int* mode, int* zone_hours);

 private:
  mutable std::mutex mutex_;
  std::chrono::seconds offset_{0};
  int mode_ = 1;
  int zone_hours_ = 0;
  bool refusing_ = false;
  int set_count_ = 0;
};

}  // namespace strandline::sim
