#pragma once

#include <cstdint>
#include <vector>

#include "rtsp/frame_buffer.h"
#include "rtsp/media_parser_client.h"
#include "rtsp/rtp_packet.h"
#include "rtsp/sdp_session_info.h"
#include "runtime/debug_message.h"

namespace orbisan {

// Common part of the video depacketizers: sequence checking, the frame
// buffer and its size limit, the codec parameters of the session description
// and the links to the driver's log and to the client that takes the frames
// (and knows the host's sample allocator).
// One thread at a time feeds a depacketizer; it has no lock of its own.
class CRTPMediaParser {
 public:
  // Largest frame that is assembled (10 MiB); anything bigger is dropped.
  static constexpr size_t kMaxFrameSize = 0xA00000;

  explicit CRTPMediaParser(IDebugMessage* driver);
  virtual ~CRTPMediaParser() = default;
  CRTPMediaParser(const CRTPMediaParser&) = delete;
  CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

  // Every RTP packet of the stream, in arrival order. A packet that cannot
  // be handled (memory) costs the frame, not the channel.
  void ProcessPacket(const CRTPPacket& packet);
  // Drops the frame in progress and waits for the next starting point.
  virtual void Reset() = 0;
  // A picture may be held for the packet after it (streams without marker
  // bits end a picture only by starting the next). With idleMs since the
  // last packet, finishes it once its wait is over; returns the
  // milliseconds still to wait, 0 when nothing is held.
  virtual uint32_t FinishHeld(uint64_t idleMs) {
    (void)idleMs;
    return 0;
  }
  // Codec parameters of the session description: H.264 parameter sets
  // (NAL units with their header byte, no start code), the MPEG-4 decoder
  // configuration, and the picture size (0 when absent).
  virtual void SetSdpParameters(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                const std::vector<uint8_t>& config, uint32_t width, uint32_t height);

  // The same from a parsed description.
  void SetSdpParameters(const SDP_SESSION_INFO& info) {
    SetSdpParameters(info.sps, info.pps, info.config, info.width, info.height);
  }

  // Set by the owner before the first packet; not owned.
  void SetClient(IMediaParserClient* client) { client_ = client; }
  IMediaParserClient* GetClient() const { return client_; }
  uint32_t GetWidth() const { return width_; }
  uint32_t GetHeight() const { return height_; }

 protected:
  // The packet's payload (null and 0 when empty), after the sequence check.
  virtual void ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) = 0;
  // The packet does not follow the previous one; by default the frame in
  // progress is dropped.
  virtual void SequenceBroken(const CRTPPacket& packet) {
    (void)packet;
    Reset();
  }
  // True when the packet follows the previous one without a gap (the first
  // packet always does). The number is remembered in every case.
  bool CheckSequence(const CRTPPacket& packet);
  // False (after logging and a Reset) when the frame grew past the limit.
  bool CheckBufferSize();
  // Copies the frame buffer into the sample; on failure logs the copy error
  // for `method`, resets, releases the sample and returns false.
  bool CopyFrame(ipcapture::IMediaSampleAllocator* allocator, ipcapture::IMediaSample* sample, const char* method);
  // A host sample for the assembled frame; without an allocator or a sample
  // the frame is dropped and the depacketizer resets, so that no frame that
  // refers to it follows.
  ipcapture::IMediaSample* CreateFrameSample(ipcapture::IMediaSampleAllocator* allocator, uint32_t fourcc,
                                             uint32_t size);
  // Capture time, picture size and class, data size and FourCC, in the order
  // the H.264 and MPEG-4 samples are filled (hosts read them in that order).
  void StampSample(ipcapture::IMediaSample* sample, uint32_t rtpTimestamp, uint32_t size, uint32_t fourcc);
  // Gives a filled sample to the client and releases it; a refused frame
  // resets the depacketizer.
  void DeliverSample(ipcapture::IMediaSampleAllocator* allocator, ipcapture::IMediaSample* sample);
  // The configured stream size, {0, 0} without a client.
  std::pair<uint32_t, uint32_t> DefaultResolution();
  // The host's sample allocator, null without a client.
  ipcapture::IMediaSampleAllocator* SampleAllocator() { return client_ ? client_->GetSampleAllocator() : nullptr; }

  // For streams without marker bits: whether a marker was ever seen, and
  // the time stamp of the frame in progress. A frame of such a stream ends
  // when the next time stamp begins (true when the caller must finish it).
  bool EndsUnmarkedFrame(const CRTPPacket& packet);
  // The wait for the last frame of such a stream; true when it is over.
  bool UnmarkedFrameDue(uint64_t idleMs, uint32_t& waitMs) const;
  static constexpr uint64_t kUnmarkedWaitMs = 100;
  bool sawMarker_ = false;
  uint32_t frameTimestamp_ = 0;

  IDebugMessage* driver_;
  IMediaParserClient* client_ = nullptr;
  CFrameBuffer frame_;
  std::vector<uint8_t> sps_;
  std::vector<uint8_t> pps_;
  std::vector<uint8_t> config_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  // Picture size of the description, kept across resets.
  uint32_t sdpWidth_ = 0;
  uint32_t sdpHeight_ = 0;

 private:
  uint16_t lastSequence_ = 0;
  bool firstPacket_ = true;
};

}  // namespace orbisan
