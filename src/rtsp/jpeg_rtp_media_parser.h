#pragma once

#include "rtsp/rtp_media_parser.h"

namespace orbisan {

// RTP/JPEG (RFC 2435) into complete JFIF pictures: the fragments of a
// picture are collected with the first packet's headers, and the JPEG
// headers are rebuilt from them straight into the host sample.
class CJpegRTPMediaParser : public CRTPMediaParser {
 public:
  explicit CJpegRTPMediaParser(IDebugMessage* driver);

  void Reset() override;
  uint32_t FinishHeld(uint64_t idleMs) override;

 private:
  void ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) override;
  void ProcessFrame(uint32_t rtpTimestamp);
  // Writes the picture into out; its size, or 0 when the headers cannot be
  // rebuilt.
  size_t BuildImage(uint8_t* out, size_t capacity);

  bool waitingForFirstFragment_ = true;
  size_t headerLength_ = 8;  // RTP/JPEG header bytes in front of every fragment
  // Tables last received in band for a Q of 128 to 254 (0: none).
  uint8_t cachedTablesQ_ = 0;
  std::vector<uint8_t> cachedTables_;
};

}  // namespace orbisan
