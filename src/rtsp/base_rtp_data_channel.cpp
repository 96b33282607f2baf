#include "rtsp/base_rtp_data_channel.h"

#include "platform/socket_utils.h"
#include "rtsp/rtp_port_choice.h"

namespace orbisan {

CBaseRTPDataChannel::CBaseRTPDataChannel(IDebugMessage* owner)
    : CBaseThread(owner), receiver_(this, owner), rtcp_(this, owner) {}

CBaseRTPDataChannel::~CBaseRTPDataChannel() { StopTransport(); }

void CBaseRTPDataChannel::RtpPacketArrived(const sockaddr_in& source, const CRTPPacket& packet) {
  packetReceived_.Set();
  if (source.sin_addr.s_addr != cameraAddress_.load()) return;
  rtcp_.CountPacket(packet.GetSequenceNumber());
  DataPacketArrived(packet);
}

bool CBaseRTPDataChannel::ResolveCamera(const std::string& host) {
  in_addr address{};
  cameraAddress_.store(ResolveIPv4(host, address) ? address.s_addr : 0);
  return cameraAddress_.load() != 0;
}

bool CBaseRTPDataChannel::StartUnicastTransport(CEvent& stopEvent) {
  packetReceived_.Reset();
  return ChooseRtpPortPair(receiver_, rtcp_, cameraAddress_.load(), stopEvent, packetReceived_, kDataPortQuietMs);
}

bool CBaseRTPDataChannel::StartMulticastTransport(const std::string& group, uint16_t port) {
  if (!receiver_.StartMulticast(group, port)) return false;
  if (!rtcp_.StartMulticast(cameraAddress_.load(), group, static_cast<uint16_t>(port + 1))) {
    receiver_.Stop();
    return false;
  }
  return true;
}

void CBaseRTPDataChannel::StopTransport() {
  receiver_.Stop();
  rtcp_.Stop();
}

}  // namespace orbisan
