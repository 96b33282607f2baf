#include "rtsp/rtcp_handler.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/random_bytes.h"
#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kPollTimeMs = 1000;
constexpr uint32_t kReportWaitMs = 10000;
constexpr uint32_t kMaxDropout = 3000;
constexpr uint32_t kMaxMisorder = 100;
constexpr uint32_t kSeqMod = 65536;
constexpr uint8_t kSenderReport = 200;
constexpr uint8_t kReceiverReport = 201;
constexpr uint8_t kBye = 203;

void PutU32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

}  // namespace

CRTCPHandler::CRTCPHandler(IRTCPHandlerUser* user, IDebugMessage* owner) : CBaseThread(owner), user_(user) {}

CRTCPHandler::~CRTCPHandler() { Stop(); }

bool CRTCPHandler::Start(uint32_t cameraAddress, uint16_t port) { return StartClient(cameraAddress, nullptr, port); }

bool CRTCPHandler::StartMulticast(uint32_t cameraAddress, const std::string& group, uint16_t port) {
  return StartClient(cameraAddress, &group, port);
}

bool CRTCPHandler::StartClient(uint32_t cameraAddress, const std::string* group, uint16_t port) {
  if (client_.IsOpen() || cameraAddress == 0) return false;
  {
    CAutoLock guard(lock_);
    ClearState();
    PickOwnSsrc();
    cameraAddress_ = cameraAddress;
  }
  client_.SetTimeout(kPollTimeMs);
  const bool opened = group ? client_.OpenMulticast(this, *group, port) : client_.Open(this, port);
  if (!opened) return false;
  reportArrived_.Reset();
  if (!StartThread("RTCP Handler Thread")) {
    client_.Close();
    return false;
  }
  return true;
}

void CRTCPHandler::ClearState() {
  reportSeen_ = false;
  reportSource_ = sockaddr_in{};
  versionBits_ = 0;
  senderSsrc_ = 0;
  lastSr_ = 0;
  arrivalMs_ = 0;
  arrivalKnown_ = false;
  sequence_ = SequenceState{};
}

void CRTCPHandler::PickOwnSsrc() {
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

void CRTCPHandler::Stop() {
  StopEvent().Set();
  bool sendBye;
  {
    CAutoLock guard(lock_);
    sendBye = reportSeen_;
  }
  if (sendBye) SendBye();
  {
    CAutoLock guard(lock_);
    reportSeen_ = false;
  }
  client_.Close();
  StopThread(5000);
}

CRTCPHandler::SequenceState CRTCPHandler::GetSequenceState() {
  CAutoLock guard(lock_);
  return sequence_;
}

uint32_t CRTCPHandler::GetOwnSsrc() {
  CAutoLock guard(lock_);
  return ownSsrc_;
}

bool CRTCPHandler::IsReporting() {
  CAutoLock guard(lock_);
  return reportSeen_;
}

void CRTCPHandler::InitSequence(uint16_t sequenceNumber) {
  sequence_.started = true;
  sequence_.base = static_cast<uint32_t>(sequenceNumber) - 1;
  sequence_.highest = sequenceNumber;
  sequence_.bad = kSeqMod + 1;
  sequence_.cycles = 0;
  sequence_.received = 0;
}

void CRTCPHandler::CountPacket(uint16_t sequenceNumber) {
  CAutoLock guard(lock_);
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

void CRTCPHandler::DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) {
  (void)client;
  if (data == nullptr || length < 4) return;
  bool bye = false;
  {
    CAutoLock guard(lock_);
    if (source.sin_addr.s_addr != cameraAddress_) return;
  }
  size_t offset = 0;
  while (length - offset >= 4) {
    const uint8_t* part = data + offset;
    const size_t partLength = 4 + 4 * static_cast<size_t>((part[2] << 8) | part[3]);
    if (partLength > length - offset) break;
    const uint8_t type = part[1];
    if (type == kSenderReport && partLength >= 14) {
      CAutoLock guard(lock_);
      if (!reportSeen_) {
        reportSource_ = source;
        reportSeen_ = true;
      }
      versionBits_ = part[0] & 0xC0;
      std::memcpy(&senderSsrc_, part + 4, 4);
      std::memcpy(&lastSr_, part + 10, 4);
      arrivalMs_ = TickCountMs();
      arrivalKnown_ = true;
      reportArrived_.Set();
    } else if (type == kBye) {
      CAutoLock guard(lock_);
      if (reportSeen_) {
        reportSeen_ = false;
        bye = true;
      }
    }
    offset += partLength;
  }
  if (bye && user_ != nullptr) {
    try {
      user_->ByeReceived();
    } catch (...) {
    }
  }
}

uint32_t CRTCPHandler::ThreadFunction() {
  CEvent* events[2] = {&StopEvent(), &reportArrived_};
  for (;;) {
    const int32_t which = CEvent::WaitForAny(events, 2, kReportWaitMs);
    if (which == 0 || IsStopping()) break;
    if (which == 1) SendReceiverReport();
  }
  return 0;
}

void CRTCPHandler::SendReceiverReport() {
  uint8_t report[32] = {};
  sockaddr_in destination{};
  {
    CAutoLock guard(lock_);
    if (!reportSeen_) return;
    report[0] = static_cast<uint8_t>(versionBits_ | 1);
    report[1] = kReceiverReport;
    report[2] = 0;
    report[3] = 7;
    std::memcpy(report + 4, &ownSsrc_, 4);
    std::memcpy(report + 8, &senderSsrc_, 4);
    PutU32(report + 16, sequence_.cycles + sequence_.highest);
    std::memcpy(report + 24, &lastSr_, 4);
    uint32_t delay = 0;
    if (arrivalKnown_) {
      const uint32_t elapsedMs = TickCountMs() - arrivalMs_;
      delay = static_cast<uint32_t>(static_cast<double>(elapsedMs) * 65.536);
    }
    PutU32(report + 28, delay);
    destination = reportSource_;
  }
  if (!client_.SendTo(destination, report, sizeof report)) {
    CAutoLock guard(lock_);
    reportSeen_ = false;
  }
}

void CRTCPHandler::SendBye() {
  uint8_t bye[8] = {};
  sockaddr_in destination{};
  {
    CAutoLock guard(lock_);
    if (!reportSeen_) return;
    bye[0] = static_cast<uint8_t>(versionBits_ | 1);
    bye[1] = kBye;
    bye[3] = 1;
    std::memcpy(bye + 4, &ownSsrc_, 4);
    destination = reportSource_;
  }
  client_.SendTo(destination, bye, sizeof bye);
}

}  // namespace orbisan
