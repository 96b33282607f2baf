#include "driver/stream_statistics_text.h"

#include "runtime/format.h"

namespace orbisan {

namespace {

std::string Decimal(const std::optional<double>& value) { return value ? Format("%.3f", *value) : std::string(); }

template <typename T>
std::string Whole(const std::optional<T>& value) {
  return value ? std::to_string(*value) : std::string();
}

}  // namespace

std::string StreamStatisticsText(const CHANNEL_STATISTICS& s) {
  // The failure text ends the original fields and may hold spaces; it is
  // repeated as the last field so that a reader can take it to the end.
  return "rtp_lost=" + std::to_string(s.rtpLost) + " frames_dropped=" + std::to_string(s.framesDropped) +
         " failure=" + s.lastFailure + " frames=" + std::to_string(s.frames) +
         " key_frames=" + std::to_string(s.keyFrames) + " bytes=" + std::to_string(s.bytes) +
         Format(" fps=%.2f kbps=%.1f", s.fps, s.kbps) + " rtp_duplicates=" + Whole(s.rtpDuplicates) +
         " rtp_reordered=" + Whole(s.rtpReordered) + " jitter_ms=" + Decimal(s.jitterMs) +
         " reconnects=" + std::to_string(s.reconnects) + " signal_lost=" + std::to_string(s.signalLost) +
         " seconds_since_last_frame=" + Decimal(s.secondsSinceLastFrame) +
         " camera_clock_offset_ms=" + Whole(s.cameraClockOffsetMs) + " last_failure=" + s.lastFailure;
}

}  // namespace orbisan
