#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtsp/rtp_packet.h"
#include "rtsp/rtsp_client_user.h"

namespace orbisan {

// Finds the RTP packets of one channel in an interleaved RTSP byte stream
// ("$", channel, 16-bit length, packet), whatever the block boundaries are.
// Everything else (other channels, RTSP text) is skipped.
class CRTSPStreamParser {
 public:
  CRTSPStreamParser(IRTSPClientUser* user, uint8_t channel);
  virtual ~CRTSPStreamParser() = default;

  void Feed(const uint8_t* data, size_t length);
  uint8_t GetChannel() const { return marker_[1]; }

 private:
  void Deliver(const uint8_t* data, size_t length);

  IRTSPClientUser* user_;
  uint8_t marker_[2];
  size_t matched_ = 0;  // marker bytes matched so far
  uint8_t lengthBytes_[2] = {};
  size_t lengthMatched_ = 0;
  size_t missing_ = 0;  // bytes still missing from the current packet
  bool inPacket_ = false;
  std::vector<uint8_t> buffer_;
  CRTPPacket packet_;
};

}  // namespace orbisan
