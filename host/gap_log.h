#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace strandline::host {

// Holes of more than a second in the live video of one recorded stream, and
// how much of each the frames played back from the camera's storage filled.
// Times are UTC milliseconds since the epoch: frame capture times, and the
// host's clock for the request, the outages and the reconnects.
class GapLog {
 public:
  struct Gap {
    int64_t startMs = 0;
    int64_t endMs = 0;
    std::string cause;  // start, signal_lost, reconnect or camera_ended
    double edgeSeconds = 0;
    double Seconds() const { return static_cast<double>(endMs - startMs) / 1000.0; }
  };

  void Requested(int64_t utcMs);
  void LiveFrame(int64_t utcMs);
  void EdgeFrame(int64_t utcMs);
  void SignalLost(int64_t utcMs);
  void Reconnected(int64_t utcMs);
  // Every hole up to endMs, the one still open included.
  std::vector<Gap> Gaps(int64_t endMs);

  // "start_utc,end_utc,seconds,cause,edge_seconds" and one row per gap.
  static bool WriteCsv(const std::string& path, const std::vector<Gap>& gaps, std::string& error);

 private:
  static constexpr int64_t kHoleMs = 1000;
  // A reconnect is counted once the first frame after it went out, and seen
  // by the host's next look: events this long after a hole still belong to it.
  static constexpr int64_t kEventSlackMs = 2500;

  // A hole with what played-back frames (which come in time order) left of
  // it so far: every stretch of more than a second without a frame.
  struct Hole {
    int64_t startMs;
    int64_t endMs;
    int64_t lastPointMs;  // the start, or the last played-back frame in it
    int64_t emptyMs = 0;
  };

  bool Within(const std::vector<int64_t>& events, int64_t startMs, int64_t endMs) const;

  std::mutex mutex_;
  int64_t requestedMs_ = -1;
  int64_t firstLiveMs_ = -1;
  int64_t lastLiveMs_ = -1;
  std::vector<Hole> holes_;
  std::vector<int64_t> signalLost_;
  std::vector<int64_t> reconnects_;
};

}  // namespace strandline::host
