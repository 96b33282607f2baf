#include "rtsp/rtp_jitter.h"

namespace orbisan {

void CRtpJitter::PacketArrived(uint32_t rtpTimestamp, uint64_t arrivalUs) {
  // Arrival on the stream's own clock; only differences matter, so both
  // sides may wrap.
  const uint32_t arrival = static_cast<uint32_t>(arrivalUs * clockRate_ / 1000000);
  const int64_t transit = static_cast<int32_t>(arrival - rtpTimestamp);
  if (havePacket_) {
    int64_t d = static_cast<int32_t>(static_cast<uint32_t>(transit - lastTransit_));
    if (d < 0) d = -d;
    jitter_ += (static_cast<double>(d) - jitter_) / 16.0;
    jitterNs_.store(static_cast<int64_t>(jitter_ * 1e9 / clockRate_), std::memory_order_relaxed);
  }
  havePacket_ = true;
  lastTransit_ = transit;
}

double CRtpJitter::JitterMs() const {
  const int64_t ns = jitterNs_.load(std::memory_order_relaxed);
  return ns < 0 ? -1.0 : static_cast<double>(ns) / 1e6;
}

}  // namespace orbisan
