#include "rtsp/rtcp_handler.h"

#include "runtime/time_utils.h"

namespace orbisan {

namespace {

constexpr uint32_t kPollTimeMs = 1000;
constexpr uint32_t kReportWaitMs = 10000;

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
    reportSeen_ = false;
    reportSource_ = sockaddr_in{};
    state_.Clear();
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
  return state_.Sequence();
}

uint32_t CRTCPHandler::GetOwnSsrc() {
  CAutoLock guard(lock_);
  return state_.OwnSsrc();
}

bool CRTCPHandler::IsReporting() {
  CAutoLock guard(lock_);
  return reportSeen_;
}

void CRTCPHandler::CountPacket(uint16_t sequenceNumber) {
  CAutoLock guard(lock_);
  state_.CountPacket(sequenceNumber);
}

void CRTCPHandler::DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) {
  (void)client;
  if (data == nullptr || length < 4) return;
  bool bye = false;
  {
    CAutoLock guard(lock_);
    if (source.sin_addr.s_addr != cameraAddress_) return;
    const uint32_t seen = state_.ReadCompound(data, length, TickCountMs());
    if (seen & CRTCPReportState::kSawSenderReport) {
      if (!reportSeen_) {
        reportSource_ = source;
        reportSeen_ = true;
      }
      reportArrived_.Set();
    }
    if ((seen & CRTCPReportState::kSawBye) && reportSeen_) {
      reportSeen_ = false;
      bye = true;
    }
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
  uint8_t report[CRTCPReportState::kReceiverReportSize];
  sockaddr_in destination{};
  {
    CAutoLock guard(lock_);
    if (!reportSeen_) return;
    state_.BuildReceiverReport(TickCountMs(), report);
    destination = reportSource_;
  }
  if (!client_.SendTo(destination, report, sizeof report)) {
    CAutoLock guard(lock_);
    reportSeen_ = false;
  }
}

void CRTCPHandler::SendBye() {
  uint8_t bye[CRTCPReportState::kByeSize];
  sockaddr_in destination{};
  {
    CAutoLock guard(lock_);
    if (!reportSeen_) return;
    state_.BuildBye(bye);
    destination = reportSource_;
  }
  client_.SendTo(destination, bye, sizeof bye);
}

}  // namespace orbisan
