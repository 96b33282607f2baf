#pragma once

#include <cstdint>
#include <functional>

#include "rtsp/statistics_helper.h"
#include "strandline/system_time.h"

namespace orbisan {

// Turns RTP timestamps (90 kHz) into UTC file times (100 ns units).
// Live mode follows the system clock and smooths arrival jitter once enough
// steps are known; playback mode counts forward from a given start.
class CTimeStampConverter {
 public:
  using Clock = std::function<uint64_t()>;

  CTimeStampConverter();
  virtual ~CTimeStampConverter() = default;

  // Live mode, all history forgotten.
  void Reset();
  // Playback from start; 0 keeps live mode.
  void StartPlayback(uint64_t start);
  // Feeds one RTP timestamp; returns the current output time.
  uint64_t Convert(uint32_t timestamp);
  // The output time as calendar time, or the current time while there is none.
  void GetTime(SYSTEMTIME& out) const;

  uint64_t GetOutput() const { return output_; }
  uint64_t GetLead() const { return lead_; }
  bool IsLive() const { return live_; }
  // Replaces the system clock (UTC file time); for tests and replays. Until
  // SetStepClock is called, the same clock also measures the steps.
  void SetClock(Clock clock);
  // Replaces the monotonic clock (100 ns units) on which the arrival steps
  // are measured.
  void SetStepClock(Clock clock);

 private:
  void ConvertLive(uint32_t timestamp);
  void ConvertPlayback(uint32_t timestamp);
  uint64_t Now() const;
  uint64_t StepNow() const;

  uint64_t output_ = 0;
  uint32_t lastTimestamp_ = 0;
  bool haveTimestamp_ = false;
  uint64_t lead_ = 0;
  TStatisticsHelper<uint32_t> rtpSteps_{1000};
  TStatisticsHelper<uint64_t> clockSteps_{1000};
  uint64_t lastStepTime_ = 0;  // monotonic
  bool live_ = true;
  uint64_t playbackStep_ = 0;
  Clock clock_;
  Clock stepClock_;
};

}  // namespace orbisan
