#include "rtsp/rtp_port_choice.h"

namespace orbisan {

bool ChooseRtpPortPair(CRTPReceiver& receiver, CRTCPHandler& rtcp, uint32_t cameraAddress, CEvent& stopEvent,
                       CEvent& packetReceived, uint32_t quietMs, uint16_t firstPort, uint16_t limit) {
  if (firstPort % 2 != 0) ++firstPort;
  for (uint32_t port = firstPort; port < limit; port += 2) {
    if (stopEvent.IsSet()) return false;
    packetReceived.Reset();
    if (receiver.Start(static_cast<uint16_t>(port))) {
      CEvent* events[2] = {&stopEvent, &packetReceived};
      const int32_t which = CEvent::WaitForAny(events, 2, quietMs);
      if (which < 0 && rtcp.Start(cameraAddress, static_cast<uint16_t>(port + 1))) return true;
      if (which == 0) {
        receiver.Stop();
        rtcp.Stop();
        return false;
      }
    }
    receiver.Stop();
    rtcp.Stop();
  }
  return false;
}

}  // namespace orbisan
