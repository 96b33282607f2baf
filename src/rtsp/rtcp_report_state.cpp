#include "rtsp/rtcp_report_state.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/random_bytes.h"
#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kMaxDropout = 3000;
constexpr uint32_t kMaxMisorder = 100;
constexpr uint32_t kSeqMod = 65536;
constexpr int64_t kNtpUnixEpochSeconds = 2208988800;

uint32_t GetU32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// The sender's NTP time stamp against the host's UTC clock now, in ms.
int64_t ClockOffsetMs(const uint8_t* ntp) {
  const int64_t cameraMs = (static_cast<int64_t>(GetU32(ntp)) - kNtpUnixEpochSeconds) * 1000 +
                           static_cast<int64_t>((static_cast<uint64_t>(GetU32(ntp + 4)) * 1000) >> 32);
  const int64_t hostMs = static_cast<int64_t>((NowFileTime() - kFileTimeUnixEpoch) / kFileTimeUnitsPerMs);
  return cameraMs - hostMs;
}

void PutU32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

}  // namespace

void CRTCPReportState::Clear() {
  versionBits_ = 0;
  senderSsrc_ = 0;
  lastSr_ = 0;
  arrivalMs_ = 0;
  arrivalKnown_ = false;
  sequence_ = SequenceState{};
  PickOwnSsrc();
}

void CRTCPReportState::PickOwnSsrc() {
  uint8_t bytes[16];
  const bool ok = RandomBytes16(bytes);
  bool allZero = true;
  for (uint8_t b : bytes) allZero = allZero && b == 0;
  if (ok && !allZero) {
    std::memcpy(&ownSsrc_, bytes, 4);
    return;
  }
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  uint8_t fallback[4];
  PutU32(fallback, static_cast<uint32_t>(std::rand()));
  std::memcpy(&ownSsrc_, fallback, 4);
}

void CRTCPReportState::InitSequence(uint16_t sequenceNumber) {
  sequence_.started = true;
  sequence_.base = static_cast<uint32_t>(sequenceNumber) - 1;
  sequence_.highest = sequenceNumber;
  sequence_.bad = kSeqMod + 1;
  sequence_.cycles = 0;
  sequence_.received = 0;
}

void CRTCPReportState::CountPacket(uint16_t sequenceNumber) {
  if (!sequence_.started) InitSequence(sequenceNumber);
  // RFC 3550 appendix A.1 without probation.
  const uint16_t delta = static_cast<uint16_t>(sequenceNumber - sequence_.highest);
  if (delta < kMaxDropout) {
    if (sequenceNumber < sequence_.highest) sequence_.cycles += kSeqMod;
    sequence_.highest = sequenceNumber;
  } else if (delta <= kSeqMod - kMaxMisorder) {
    if (sequenceNumber == sequence_.bad) {
      // Two packets in a row after a big jump: the sender restarted.
      InitSequence(sequenceNumber);
    } else {
      sequence_.bad = (static_cast<uint32_t>(sequenceNumber) + 1) & (kSeqMod - 1);
      return;
    }
  }
  // Anything else is a late or duplicate packet, still counted as received.
  ++sequence_.received;
}

uint32_t CRTCPReportState::ReadCompound(const uint8_t* data, size_t length, uint32_t nowMs) {
  uint32_t seen = 0;
  if (data == nullptr) return seen;
  size_t offset = 0;
  while (length - offset >= 4) {
    const uint8_t* part = data + offset;
    const size_t partLength = 4 + 4 * static_cast<size_t>((part[2] << 8) | part[3]);
    if (partLength > length - offset) break;
    const uint8_t type = part[1];
    if (type == kSenderReport && partLength >= 14) {
      versionBits_ = part[0] & 0xC0;
      std::memcpy(&senderSsrc_, part + 4, 4);
      std::memcpy(&lastSr_, part + 10, 4);
      arrivalMs_ = nowMs;
      arrivalKnown_ = true;
      if (partLength >= 16) clockOffsetMs_.store(ClockOffsetMs(part + 8), std::memory_order_relaxed);
      seen |= kSawSenderReport;
    } else if (type == kBye) {
      seen |= kSawBye;
    }
    offset += partLength;
  }
  return seen;
}

bool CRTCPReportState::CameraClockOffsetMs(int64_t& offset) const {
  const int64_t value = clockOffsetMs_.load(std::memory_order_relaxed);
  if (value == kNoOffset) return false;
  offset = value;
  return true;
}

void CRTCPReportState::BuildReceiverReport(uint32_t nowMs, uint8_t (&out)[kReceiverReportSize]) const {
  std::memset(out, 0, sizeof out);
  out[0] = static_cast<uint8_t>(versionBits_ | 1);
  out[1] = kReceiverReport;
  out[3] = 7;
  std::memcpy(out + 4, &ownSsrc_, 4);
  std::memcpy(out + 8, &senderSsrc_, 4);
  PutU32(out + 16, sequence_.cycles + sequence_.highest);
  std::memcpy(out + 24, &lastSr_, 4);
  uint32_t delay = 0;
  if (arrivalKnown_) delay = static_cast<uint32_t>(static_cast<double>(nowMs - arrivalMs_) * 65.536);
  PutU32(out + 28, delay);
}

void CRTCPReportState::BuildBye(uint8_t (&out)[kByeSize]) const {
  std::memset(out, 0, sizeof out);
  out[0] = static_cast<uint8_t>(versionBits_ | 1);
  out[1] = kBye;
  out[3] = 1;
  std::memcpy(out + 4, &ownSsrc_, 4);
}

}  // namespace orbisan
