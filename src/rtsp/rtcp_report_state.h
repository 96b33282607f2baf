#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace orbisan {

// What a receiver needs to answer a sender's reports: the RFC 3550 sequence
// statistics of the RTP stream, the last sender report, and the receiver
// report and goodbye built from them. No socket and no lock: the UDP handler
// and the interleaved session each send what it builds their own way.
class CRTCPReportState {
 public:
  struct SequenceState {
    bool started = false;
    uint16_t highest = 0;
    uint32_t cycles = 0;  // in units of 65536
    uint32_t base = 0;
    uint32_t bad = 0;
    uint32_t probation = 0;
    uint32_t received = 0;
  };
  enum : uint8_t { kSenderReport = 200, kReceiverReport = 201, kBye = 203 };
  static constexpr size_t kReceiverReportSize = 32;
  static constexpr size_t kByeSize = 8;

  // Forgets everything but the camera's clock offset and picks a new own SSRC.
  void Clear();
  void CountPacket(uint16_t sequenceNumber);
  // Walks a compound RTCP packet; a part that does not fit ends the walk.
  // Returns the types seen as flags (1: sender report, 2: BYE).
  uint32_t ReadCompound(const uint8_t* data, size_t length, uint32_t nowMs);
  void BuildReceiverReport(uint32_t nowMs, uint8_t (&out)[kReceiverReportSize]) const;
  void BuildBye(uint8_t (&out)[kByeSize]) const;

  const SequenceState& Sequence() const { return sequence_; }
  // The camera's sender-report clock minus the host's UTC clock at the
  // report's arrival, in ms (from any thread); false before a report.
  bool CameraClockOffsetMs(int64_t& offset) const;
  uint32_t OwnSsrc() const { return ownSsrc_; }

  static constexpr uint32_t kSawSenderReport = 1;
  static constexpr uint32_t kSawBye = 2;

 private:
  void PickOwnSsrc();
  void InitSequence(uint16_t sequenceNumber);

  uint8_t versionBits_ = 0;
  uint32_t senderSsrc_ = 0;  // bytes as received
  uint32_t lastSr_ = 0;      // bytes as received
  uint32_t arrivalMs_ = 0;
  bool arrivalKnown_ = false;
  uint32_t ownSsrc_ = 0;  // bytes as sent
  SequenceState sequence_;
  static constexpr int64_t kNoOffset = INT64_MIN;
  std::atomic<int64_t> clockOffsetMs_{kNoOffset};
};

}  // namespace orbisan
