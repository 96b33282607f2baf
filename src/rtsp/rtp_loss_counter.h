#pragma once

#include <atomic>
#include <cstdint>

namespace orbisan {

// Loss seen in one RTP stream, in the order packets are handled: packets
// missing from the sequence, and frames (runs of one RTP time stamp) begun
// after the first delivered frame that never reached the host. Frames wholly
// lost leave no time stamp behind and show only as lost packets. Updated by
// one thread at a time (under its owner's lock); the totals may be read from
// any thread without it.
class CRtpLossCounter {
 public:
  // One packet, before the depacketizer sees it (depacketizers deliver a
  // frame while handling its last packet).
  void PacketHandled(uint16_t sequence, uint32_t timestamp);
  // Whether a packet of this time stamp begins the next frame.
  bool BeginsFrame(uint32_t timestamp) const { return havePacket_ && timestamp != lastTimestamp_; }
  // A frame reached the host.
  void FrameDelivered();
  // A new session: sequence and time stamps start afresh, totals stay.
  void Restart();

  // Counted by the sequencer in front of the depacketizer; neither is a loss.
  void CountDuplicate() { duplicates_.fetch_add(1, std::memory_order_relaxed); }
  void CountReordered() { reordered_.fetch_add(1, std::memory_order_relaxed); }

  uint64_t LostPackets() const { return lostPackets_.load(std::memory_order_relaxed); }
  uint64_t DroppedFrames() const { return droppedFrames_.load(std::memory_order_relaxed); }
  // Repeated packets dropped, and late packets put back in their place.
  uint64_t DuplicatePackets() const { return duplicates_.load(std::memory_order_relaxed); }
  uint64_t ReorderedPackets() const { return reordered_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> lostPackets_{0};
  std::atomic<uint64_t> droppedFrames_{0};
  std::atomic<uint64_t> duplicates_{0};
  std::atomic<uint64_t> reordered_{0};
  uint64_t delivered_ = 0;
  uint64_t deliveredAtFrameStart_ = 0;
  uint16_t lastSequence_ = 0;
  uint32_t lastTimestamp_ = 0;
  bool havePacket_ = false;
  bool delivering_ = false;  // a frame was delivered in this session
};

}  // namespace orbisan
