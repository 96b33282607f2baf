#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "rtsp/rtcp_handler.h"
#include "rtsp/rtp_packet.h"
#include "rtsp/rtp_receiver.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"

namespace orbisan {

// RTP reception for a data stream that is not video (audio): a UDP port pair
// with RTCP, or a multicast group, and the camera's packets handed on one at
// a time. The owner runs the session on this object's thread.
class CBaseRTPDataChannel : public CBaseThread, public IRTPReceiverUser, public IRTCPHandlerUser {
 public:
  explicit CBaseRTPDataChannel(IDebugMessage* owner);
  ~CBaseRTPDataChannel() override;

  // IRTPReceiverUser
  void RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) override;
  void ReceiveTimeout() override {}
  void ClientClosed() override {}
  // IRTCPHandlerUser
  void ByeReceived() override {}

 protected:
  // One packet of the camera's stream, from either transport.
  virtual void DataPacketArrived(const CRTPPacket& packet) = 0;

  // Resolves the camera; false when the name gives no IPv4 address.
  bool ResolveCamera(const std::string& host);
  // Opens a free unicast port pair; false when none is found or stopEvent is set.
  bool StartUnicastTransport(CEvent& stopEvent);
  bool StartMulticastTransport(const std::string& group, uint16_t port);
  void StopTransport();
  uint16_t RtpPort() { return receiver_.GetPort(); }
  uint16_t RtcpPort() { return rtcp_.GetPort(); }

 private:
  std::atomic<uint32_t> cameraAddress_{0};  // network order
  CManualEvent packetReceived_;
  CRTPReceiver receiver_;
  CRTCPHandler rtcp_;
};

}  // namespace orbisan
