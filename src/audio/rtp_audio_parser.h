#pragma once

#include <cstdint>
#include <vector>

#include "device/idriver.h"
#include "rtsp/rtp_packet.h"
#include "strandline/audio_capture.h"

namespace orbisan {

// What a frame of audio is made of.
struct AUDIO_FORMAT {
  uint32_t fourcc = ipcapture::kFourCC_711M;
  uint32_t sampleRate = 8000;
  uint32_t bitRate = 64000;
  uint32_t bitsPerSample = 8;
  bool stereo = false;
};

// Takes the finished frames of a parser.
class IAudioFrameReceiver {
 public:
  virtual ~IAudioFrameReceiver() = default;
  // True when the frame was accepted.
  virtual bool AudioFrameReady(ipcapture::IAudioSample* sample) = 0;
};

// Joins the payload of consecutive RTP packets into frames of one second and
// hands each to the receiver as a host audio sample. A gap in the sequence
// numbers drops the part of a second gathered so far: a frame is never
// stitched across lost packets.
class CBaseRTPAudioParser {
 public:
  CBaseRTPAudioParser(IDriver* driver, uint8_t channelId, const AUDIO_FORMAT& format, IAudioFrameReceiver* receiver);
  virtual ~CBaseRTPAudioParser() = default;

  void ProcessPacket(const CRTPPacket& packet);
  void Reset();
  size_t Buffered() const { return buffer_.size(); }

 protected:
  virtual void ProcessAudioFrame();

 private:
  IDriver* driver_;
  uint8_t channelId_;
  AUDIO_FORMAT format_;
  uint16_t lastSequence_ = 0;
  bool first_ = true;
  std::vector<uint8_t> buffer_;
  IAudioFrameReceiver* receiver_;
};

}  // namespace orbisan
