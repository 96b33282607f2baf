#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "rtsp/rtp_packet.h"

namespace orbisan {

class CRtpLossCounter;

// Where a sequencer hands its packets: in sequence order, one source only.
// `lost` is how many packets are missing in front of this one (0: it
// follows the previous one), or kRestart when the numbering started anew.
class IRtpSequencedSink {
 public:
  static constexpr uint32_t kRestart = UINT32_MAX;
  virtual ~IRtpSequencedSink() = default;
  virtual void SequencedPacket(const CRTPPacket& packet, uint32_t lost) = 0;
};

// Puts the packets of one RTP stream back into order before they are
// depacketized, as cameras and networks deliver them: a few places or some
// tens of milliseconds late, duplicated, renumbered, from a restarted
// encoder with a new SSRC, with packets of another source or RTCP mixed in.
// In-order packets pass straight through (no copy); only a packet that
// arrives ahead of a gap is copied into one of a fixed set of slots, whose
// buffers keep their capacity. One thread at a time (under the owner's lock).
class CRtpSequencer {
 public:
  static constexpr uint32_t kRestart = IRtpSequencedSink::kRestart;
  // Packets ahead of a gap that are held for it.
  static constexpr uint16_t kWindow = 64;
  // How long the oldest held packet waits for the gap in front of it at
  // first; each packet that comes after its gap was given up doubles the
  // wait, up to kMaxWaitMs, for a path or camera that reorders that late.
  static constexpr uint64_t kWaitMs = 40;
  static constexpr uint64_t kMaxWaitMs = 320;
  // A new source must send this many packets, while the established one is
  // silent for at least kSourceSilenceMs, before it replaces it.
  static constexpr uint32_t kSourcePersistPackets = 8;
  static constexpr uint64_t kSourceSilenceMs = 100;
  // Packets of a new source kept until it is taken, so that the key frame
  // a restarted encoder opens with is not lost to the wait.
  static constexpr size_t kCandidateHold = 256;

  // The counter receives duplicates and mended reorders; may be null.
  explicit CRtpSequencer(CRtpLossCounter* counter = nullptr) : counter_(counter) {}

  // One packet as it arrived at steady time nowMs.
  void Push(const CRTPPacket& packet, uint64_t nowMs, IRtpSequencedSink& sink);
  // Releases held packets whose wait ran out; returns the milliseconds until
  // the next one is due (0 when none is held).
  uint64_t Flush(uint64_t nowMs, IRtpSequencedSink& sink);
  // A new session: forgets the source, the numbering and what is held.
  void Reset();

  // RTCP packets (types 200 to 204) that came on the RTP port or channel.
  static bool IsRtcp(const CRTPPacket& packet) {
    const uint32_t type = (uint32_t{packet.GetMarker()} << 7) | packet.GetPayloadType();
    return type >= 200 && type <= 204;
  }
  uint64_t ForeignPackets() const { return foreign_; }
  uint64_t RtcpPackets() const { return rtcp_; }
  uint64_t SourceChanges() const { return sourceChanges_; }

 private:
  struct Held {
    CRTPPacket packet;
    uint64_t arrivedMs = 0;
    bool used = false;
  };
  enum class Source { kOwn, kForeign, kChanged };
  // Whether the packet belongs to the stream, or replaces its source.
  Source AcceptSource(const CRTPPacket& packet, uint64_t nowMs);
  void PushAccepted(const CRTPPacket& packet, uint64_t nowMs, IRtpSequencedSink& sink);
  void Deliver(const CRTPPacket& packet, IRtpSequencedSink& sink);
  // Hands on held packets that now follow in order.
  void Drain(IRtpSequencedSink& sink);
  // Gives up on the gap in front of the oldest held packet.
  void SkipGap(IRtpSequencedSink& sink);
  void ReleaseAll(IRtpSequencedSink& sink);
  void RememberDelivered(uint16_t sequence);
  bool WasDelivered(uint16_t sequence) const;

  CRtpLossCounter* counter_;
  bool haveSource_ = false;
  uint32_t ssrc_ = 0;
  uint64_t sourceSeenMs_ = 0;
  uint32_t candidate_ = 0;
  uint32_t candidateCount_ = 0;
  std::vector<CRTPPacket> candidates_;

  bool started_ = false;
  uint16_t next_ = 0;         // the sequence number expected next
  uint32_t pendingLoss_ = 0;  // missing in front of the next delivery
  uint16_t lastDelivered_ = 0;
  uint64_t deliveredBits_ = 0;  // bit i: lastDelivered_ - i was handed on
  uint16_t heldCount_ = 0;
  std::array<Held, kWindow> held_;
  // A far jump of the numbering waits for its next packet to confirm it.
  Held jump_;

  // Kept across sessions: the path to the camera stays the same.
  uint64_t waitMs_ = kWaitMs;
  uint64_t foreign_ = 0;
  uint64_t rtcp_ = 0;
  uint64_t sourceChanges_ = 0;
};

}  // namespace orbisan
