#pragma once

#include "rtsp/h264_sps_parser.h"
#include "rtsp/rtp_media_parser.h"

namespace orbisan {

// H.264 over RTP (RFC 6184, single NAL units, STAP-A and FU-A) into Annex B
// access units that carry their parameter sets in front of every IDR
// picture, so that a recording can be played from any key frame.
class CH264RTPMediaParser : public CRTPMediaParser {
 public:
  explicit CH264RTPMediaParser(IDebugMessage* driver);

  void Reset() override;
  using CRTPMediaParser::SetSdpParameters;
  void SetSdpParameters(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                        const std::vector<uint8_t>& config, uint32_t width, uint32_t height) override;

 private:
  void ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) override;
  bool Depacketize(const uint8_t* payload, size_t size);
  bool ProcessSingleNal(const uint8_t* payload, size_t size);
  bool ProcessStapA(const uint8_t* payload, size_t size);
  bool ProcessFuA(const uint8_t* payload, size_t size);
  void AppendNal(const uint8_t* nal, size_t size);
  void InsertParameterSets();
  void ProcessFrame(uint32_t rtpTimestamp);
  // Looks for an SPS near the start of the frame; true when it parses.
  bool FindKeyFrameSize(uint32_t& width, uint32_t& height);
  void UseDefaultSizeIfSmall();

  bool waitingForKeyFrame_ = true;
  // The fragments of the current FU-A belong to a NAL unit that is left out.
  bool skippingFragments_ = false;
  CH264SpsParser spsParser_;
};

}  // namespace orbisan
