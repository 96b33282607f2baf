// The simulated camera's configuration: every value the CGI interface reads
// and writes, seeded from the model and checked against what the model accepts.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/camera_model.h"
#include "sim/stream_settings.h"

namespace strandline::sim {

enum class SetResult {
  kOk,       // stored
  kUnknown,  // the unit has no such setting
  kRefused,  // the unit knows the name but not this value
};

// Thread-safe. Encoder settings exist once per selectable channel (the
// CHANNEL=n selector: an input of a video server, or a stream of a
// multi-stream camera); the rest exists once per unit.
class SettingsTable {
 public:
  explicit SettingsTable(const CameraModel& model);

  const CameraModel& model() const { return model_; }
  // Highest value CHANNEL may take.
  int ChannelCount() const;
  // True for names kept per channel (VIDEO_*, NIGHT_*, V2_STREAMING_*).
  static bool IsChannelSetting(std::string_view name);

  std::optional<std::string> Get(std::string_view name, int channel = 1) const;
  // Validates and stores; a channel outside 1..ChannelCount() refuses every name.
  SetResult Set(std::string_view name, std::string_view value, int channel = 1);
  // Every stored setting of one channel plus the unit-wide ones, sorted by name.
  std::vector<std::pair<std::string, std::string>> List(int channel = 1) const;

  // The stream an RTSP session on this channel gets right now.
  StreamSettings Stream(int channel) const;

  // The bit rate texts the units accept ("28K" .. "6M", "UNLIMITED") in kbit/s.
  static std::optional<int> BitrateKbps(std::string_view text);

 private:
  struct Value {
    std::string text;
    uint64_t stamp = 0;  // order of changes, 0 for seeded values
  };
  using Values = std::map<std::string, Value, std::less<>>;

  void Seed();
  bool Accepts(std::string_view name, std::string_view value) const;
  const Values* Scope(std::string_view name, int channel) const;
  Values* Scope(std::string_view name, int channel);

  const CameraModel& model_;
  mutable std::mutex mutex_;
  Values unit_;
  std::vector<Values> channels_;  // index = channel - 1
  uint64_t next_stamp_ = 1;
};

}  // namespace strandline::sim
