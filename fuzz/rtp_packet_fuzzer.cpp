// Any datagram must either parse into a consistent packet or be refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "rtsp/rtp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::CRTPPacket packet;
  if (packet.Parse(data, size)) {
    const bool extension = (data[0] & 0x10) != 0;
    const size_t used = 12 + packet.GetCsrcList().size() + (extension ? 4 + packet.GetExtensionData().size() : 0) +
                        packet.GetPayloadLength();
    if (used > size || packet.GetCsrcList().size() != 4u * packet.GetCsrcCount() ||
        packet.GetExtensionData().size() != 4u * packet.GetExtensionLength())
      std::abort();
    // Touch every payload byte so that a bad length shows up under ASan.
    volatile uint8_t sink = 0;
    for (uint32_t i = 0; i < packet.GetPayloadLength(); ++i) sink = sink ^ packet.GetPayload()[i];
    (void)sink;
  }
  return 0;
}
