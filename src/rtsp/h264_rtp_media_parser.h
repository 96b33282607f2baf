#pragma once

#include "rtsp/h264_sps_parser.h"
#include "rtsp/rtp_media_parser.h"

namespace orbisan {

// H.264 over RTP (RFC 6184, single NAL units, STAP-A and FU-A) into Annex B
// access units that carry their parameter sets in front of every IDR
// picture, so that a recording can be played from any key frame.
//
// One host frame per picture, whatever the camera does with marker bits: a
// picture ends at its marker, at a new time stamp, or where H.264 starts
// the next access unit (a delimiter or a slice that begins at macroblock 0
// after its slices). Until a few pictures have
// shown that the marker ends pictures (and not every slice), a marked
// picture is held for the next packet or a short wait.
class CH264RTPMediaParser : public CRTPMediaParser {
 public:
  explicit CH264RTPMediaParser(IDebugMessage* driver);

  void Reset() override;
  uint32_t FinishHeld(uint64_t idleMs) override;
  using CRTPMediaParser::SetSdpParameters;
  void SetSdpParameters(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                        const std::vector<uint8_t>& config, uint32_t width, uint32_t height) override;

  // A held picture marked as ended waits this long for a slice of its own.
  static constexpr uint32_t kMarkedHoldMs = 20;
  // A picture of a stream without marker bits waits this long for the next.
  static constexpr uint32_t kUnmarkedHoldMs = 100;

 private:
  enum class Markers { kProbation, kTrusted, kSlices };

  void ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) override;
  void SequenceBroken(const CRTPPacket& packet) override;
  bool Depacketize(const uint8_t* payload, size_t size);
  bool ProcessStapA(const uint8_t* payload, size_t size);
  bool ProcessFuA(const uint8_t* payload, size_t size);
  // A whole unit that may hold several NAL units behind start codes.
  void ProcessUnit(const uint8_t* data, size_t size);
  void ProcessNal(const uint8_t* nal, size_t size);
  // Ends the picture in progress where this NAL unit starts the next; false
  // when the unit belongs to a picture already delivered (it is left out).
  bool BeginNal(uint8_t header, uint8_t next);
  void AppendNal(const uint8_t* nal, size_t size);
  void MarkVcl();
  void InsertParameterSets();
  // Keeps a parameter set that came in fragments, once it is whole.
  void KeepFragmentedSet();
  void FinishPicture();
  void ProcessFrame(uint32_t rtpTimestamp);
  // Looks for an SPS near the start of the frame; true when it parses.
  bool FindKeyFrameSize(uint32_t& width, uint32_t& height);
  void UseDefaultSizeIfSmall();
  // True for the first key frame that would be played with sets that came
  // only with the description and describe another size than the camera was
  // set to: a stream joined between a key frame's own sets and its slices.
  // Such a picture would decode as garbage; the next key frame brings the
  // camera's sets.
  bool DoubtDescribedSets(uint32_t width, uint32_t height);

  bool waitingForKeyFrame_ = true;
  // The fragments of the current FU-A belong to a NAL unit that is left out.
  bool skippingFragments_ = false;
  bool inFragment_ = false;  // an FU-A started and not yet ended
  // A parameter set arriving in FU-A fragments (empty when there is none):
  // kept like one that came whole, never put into the frame as it is.
  std::vector<uint8_t> fragmentedSet_;
  bool hasVcl_ = false;  // the frame holds a slice
  bool heldByMarker_ = false;
  uint32_t packetTimestamp_ = 0;
  Markers markers_ = Markers::kProbation;
  int markerProofs_ = 0;
  bool havePicture_ = false;  // a picture ended (delivered or dropped)
  uint32_t lastPictureTimestamp_ = 0;
  uint32_t pictureStep_ = 0;
  // The sets in use came with the description; none came in band yet.
  bool describedSetsOnly_ = false;
  bool passedDoubtfulKeyFrame_ = false;
  CH264SpsParser spsParser_;
};

}  // namespace orbisan
