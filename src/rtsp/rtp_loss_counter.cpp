#include "rtsp/rtp_loss_counter.h"

namespace orbisan {

void CRtpLossCounter::PacketHandled(uint16_t sequence, uint32_t timestamp) {
  if (havePacket_) {
    const uint16_t step = static_cast<uint16_t>(sequence - lastSequence_);
    // A step back (half the number space or more) is a late or repeated
    // packet, not a gap.
    if (step == 0 || step >= 0x8000) return;
    lostPackets_.fetch_add(step - 1u, std::memory_order_relaxed);
    if (timestamp != lastTimestamp_) {
      // Frames are delivered on their last packet, so the frame that just
      // ended had its chance. With the stream joined mid-way, frames before
      // the first delivered one are the wait for a key frame, not a loss.
      if (delivering_ && delivered_ == deliveredAtFrameStart_) droppedFrames_.fetch_add(1, std::memory_order_relaxed);
      deliveredAtFrameStart_ = delivered_;
    }
  }
  havePacket_ = true;
  lastSequence_ = sequence;
  lastTimestamp_ = timestamp;
}

void CRtpLossCounter::FrameDelivered() {
  delivering_ = true;
  ++delivered_;
}

void CRtpLossCounter::Restart() {
  havePacket_ = false;
  delivering_ = false;
  deliveredAtFrameStart_ = delivered_;
}

}  // namespace orbisan
