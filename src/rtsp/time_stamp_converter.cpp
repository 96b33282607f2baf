#include "rtsp/time_stamp_converter.h"

#include <algorithm>

#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr uint64_t kUnitsPerTick = 111;  // 100 ns units per 90 kHz tick, rounded down
constexpr uint64_t kOneMs = 10000;
constexpr uint64_t kSnapStep = 10000000;         // 1 s
constexpr uint64_t kLeadSlack = 2500000;         // 250 ms
constexpr uint64_t kMinCorrectedStep = 40000;    // 4 ms
constexpr uint64_t kPlaybackEqualStep = 100000;  // 10 ms
constexpr size_t kLearningSamples = 100;
// A larger forward step of a recording's RTP clock is a restart, not time.
constexpr uint64_t kPlaybackMaxStep = 100000000;  // 10 s

}  // namespace

CTimeStampConverter::CTimeStampConverter() = default;

void CTimeStampConverter::SetClock(Clock clock) { clock_ = std::move(clock); }

void CTimeStampConverter::SetStepClock(Clock clock) { stepClock_ = std::move(clock); }

uint64_t CTimeStampConverter::Now() const { return clock_ ? clock_() : NowFileTime(); }

uint64_t CTimeStampConverter::StepNow() const {
  if (stepClock_) return stepClock_();
  if (clock_) return clock_();
  return SteadyMs() * kOneMs;
}

void CTimeStampConverter::Reset() {
  output_ = 0;
  lastTimestamp_ = 0;
  haveTimestamp_ = false;
  lead_ = 0;
  rtpSteps_.Clear();
  clockSteps_.Clear();
  lastStepTime_ = 0;
  live_ = true;
  playbackStep_ = 0;
}

void CTimeStampConverter::StartPlayback(uint64_t start) {
  Reset();
  if (start == 0) return;
  live_ = false;
  output_ = start;
  playbackStep_ = kPlaybackEqualStep;
}

uint64_t CTimeStampConverter::Convert(uint32_t timestamp) {
  if (live_) {
    ConvertLive(timestamp);
  } else {
    ConvertPlayback(timestamp);
  }
  return output_;
}

void CTimeStampConverter::ConvertLive(uint32_t timestamp) {
  const uint64_t now = Now();
  const uint64_t stepNow = StepNow();
  bool forceLead = false;
  const uint64_t before = output_;
  // Steps are read modulo 2^32, so that the RTP clock's wrap is a step like any other.
  const int32_t delta = static_cast<int32_t>(timestamp - lastTimestamp_);
  if (now == 0 || output_ == 0 || !haveTimestamp_) {
    output_ = now;
    lead_ = 0;
  } else if (delta <= 0) {
    // Same frame time again, or the camera's clock stepped back: keep the
    // output moving.
    output_ = std::max(output_ + kOneMs, now);
    forceLead = true;
  } else if (static_cast<uint64_t>(delta) * kUnitsPerTick >= kSnapStep) {
    // A jump of the camera's RTP clock (or a long gap) says nothing about the
    // rate: restart from the clock, never behind the last output, and keep
    // it out of the statistics.
    output_ = std::max(output_ + kOneMs, now);
    forceLead = true;
  } else {
    const uint32_t rtpStep = static_cast<uint32_t>(delta);
    rtpSteps_.Add(rtpStep);
    if (stepNow >= lastStepTime_) clockSteps_.Add(stepNow - lastStepTime_);
    uint64_t step = static_cast<uint64_t>(rtpStep) * kUnitsPerTick;
    if (rtpSteps_.Count() <= kLearningSamples) {
      if (rtpSteps_.Count() == kLearningSamples) forceLead = true;
    } else {
      // Enough history: scale by the measured ratio of clock to RTP steps,
      // which absorbs a camera clock that runs a little fast or slow.
      const double rtpMean = rtpSteps_.Mean();
      const double ratio = rtpMean > 0.0 ? clockSteps_.Mean() / rtpMean : static_cast<double>(kUnitsPerTick);
      step = static_cast<uint64_t>(static_cast<double>(rtpStep) * ratio + 0.5);
    }
    if (lead_ > kOneMs && step > kMinCorrectedStep) {
      // Bleed off the lead gradually, at most half a step at a time, so
      // that the pictures after a burst stay apart (a recorder that keeps
      // milliseconds must still see them in order).
      const uint64_t correction = std::min(std::max(lead_ / 10, kOneMs), step / 2);
      step -= correction;
      lead_ -= std::min(correction, lead_);
    }
    output_ += std::max(step, kOneMs);
  }
  if (output_ <= now) {
    output_ = now;
    lead_ = 0;
  } else if (output_ - now >= kSnapStep) {
    if (before < now + kSnapStep) {
      // A burst of late pictures ran the output a second ahead: it stays
      // there, moving on by a millisecond, until the clock catches up.
      output_ = std::max(before + kOneMs, now + kSnapStep - kOneMs);
      lead_ = output_ - now;
    } else {
      // Already a second ahead before this picture: the wall clock stepped
      // back, and only following it keeps the times near it.
      output_ = now;
      lead_ = 0;
    }
  } else if (forceLead || output_ - now > kLeadSlack) {
    lead_ = output_ - now;
  }
  lastStepTime_ = stepNow;
  lastTimestamp_ = timestamp;
  haveTimestamp_ = true;
}

void CTimeStampConverter::ConvertPlayback(uint32_t timestamp) {
  if (output_ == 0 || playbackStep_ == 0 || timestamp == 0) return;
  if (haveTimestamp_) {
    const int32_t delta = static_cast<int32_t>(timestamp - lastTimestamp_);
    if (delta > 0 && static_cast<uint64_t>(delta) * kUnitsPerTick < kPlaybackMaxStep) {
      output_ += static_cast<uint64_t>(delta) * kUnitsPerTick;
    } else {
      // The same time again, or the camera's RTP clock wrapped far, stepped
      // back or restarted: the playback moves on by one step and counts
      // from the new value, so that later frames are not taken as old ones.
      output_ += playbackStep_;
    }
  }
  lastTimestamp_ = timestamp;
  haveTimestamp_ = true;
}

void CTimeStampConverter::GetTime(SYSTEMTIME& out) const {
  const uint64_t time = (output_ != 0 && haveTimestamp_) ? output_ : Now();
  FileTimeToSystemTimeUtc(time, out);
}

}  // namespace orbisan
