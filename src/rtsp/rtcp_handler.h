#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "rtsp/rtcp_report_state.h"
#include "rtsp/rtp_client.h"
#include "rtsp/udp_client.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

class IRTCPHandlerUser {
 public:
  virtual ~IRTCPHandlerUser() = default;
  virtual void ByeReceived() = 0;
};

// The receiving side of RTCP for one RTP stream: answers each sender report
// of the camera with one receiver report, and says goodbye on stop once the
// camera has shown that it speaks RTCP.
class CRTCPHandler : public CBaseThread, public IRTPClientUser {
 public:
  // Snapshot of the RFC 3550 sequence statistics (for reports and tests).
  using SequenceState = CRTCPReportState::SequenceState;

  explicit CRTCPHandler(IRTCPHandlerUser* user, IDebugMessage* owner = nullptr);
  ~CRTCPHandler() override;

  // cameraAddress in network order; RTCP from any other host is ignored.
  bool Start(uint32_t cameraAddress, uint16_t port);
  bool StartMulticast(uint32_t cameraAddress, const std::string& group, uint16_t port);
  void Stop();
  void CountPacket(uint16_t sequenceNumber);

  uint16_t GetPort() { return client_.GetPort(); }
  SequenceState GetSequenceState();
  // Own SSRC as sent (network order bytes).
  uint32_t GetOwnSsrc();
  bool IsReporting();
  bool CameraClockOffsetMs(int64_t& offset) const { return state_.CameraClockOffsetMs(offset); }

  void DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) override;
  void ReceiveTimeout(IRTPClient*) override {}
  void ClientClosed(IRTPClient*) override {}

 protected:
  uint32_t ThreadFunction() override;

 private:
  bool StartClient(uint32_t cameraAddress, const std::string* group, uint16_t port);
  void SendReceiverReport();
  void SendBye();

  IRTCPHandlerUser* user_;
  CUDPClient client_;
  CRecursiveLock lock_;
  CEvent reportArrived_{false};

  uint32_t cameraAddress_ = 0;
  bool reportSeen_ = false;
  sockaddr_in reportSource_{};
  CRTCPReportState state_;
};

}  // namespace orbisan
