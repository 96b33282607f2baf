#pragma once

#include "rtsp/rtp_media_parser.h"

namespace orbisan {

// MPEG-4 Visual over RTP (RFC 3016) into frames that start with the decoder
// configuration whenever they hold an I-VOP.
class CMpeg4RTPMediaParser : public CRTPMediaParser {
 public:
  explicit CMpeg4RTPMediaParser(IDebugMessage* driver);

  void Reset() override;
  uint32_t FinishHeld(uint64_t idleMs) override;

 private:
  void ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) override;
  void ProcessFrame(uint32_t rtpTimestamp);

  bool waitingForIntra_ = true;
  bool keyFrame_ = false;
  std::vector<uint8_t> inbandConfig_;
};

}  // namespace orbisan
