#pragma once

#include <atomic>
#include <cstdint>

namespace orbisan {

// RFC 3550 interarrival jitter (section 6.4.1, appendix A.8) of one RTP
// stream: the smoothed variation of the transit time between packets. Fed by
// one thread at a time; read from any.
class CRtpJitter {
 public:
  explicit CRtpJitter(uint32_t clockRate = 90000) : clockRate_(clockRate) {}

  // A packet with this RTP time stamp arrived at arrivalUs (microseconds of
  // a monotonic clock).
  void PacketArrived(uint32_t rtpTimestamp, uint64_t arrivalUs);
  // A new session: its clock offset is new, the estimate carries on.
  void Restart() { havePacket_ = false; }
  // Milliseconds; negative before two packets were seen.
  double JitterMs() const;

 private:
  uint32_t clockRate_;
  bool havePacket_ = false;
  int64_t lastTransit_ = 0;  // in RTP clock units, modulo 2^32
  double jitter_ = 0;        // in RTP clock units
  std::atomic<int64_t> jitterNs_{-1};
};

}  // namespace orbisan
