#include "rtsp/mpeg4_rtp_media_parser.h"

#include <algorithm>
#include <cstring>

#include "rtsp/mpeg4_vol_parser.h"

namespace orbisan {
namespace {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVop = 0xB6;
// A configuration packet without picture data is taken whole only when it
// is this short; longer ones are left to the frame.
constexpr size_t kMaxBareConfig = 63;

bool IsStartCode(const uint8_t* p, size_t size, uint8_t code) {
  return size >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code;
}

// Position of the start code at or after from, or size when there is none.
size_t FindStartCode(const uint8_t* p, size_t size, size_t from, uint8_t code) {
  for (size_t i = from; i + 3 < size; ++i) {
    if (p[i + 2] > 1) {
      i += 2;  // none of the next two positions can begin a start code
      continue;
    }
    if (IsStartCode(p + i, size - i, code)) return i;
  }
  return size;
}

}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDebugMessage* driver) : CRTPMediaParser(driver) {}

void CMpeg4RTPMediaParser::Reset() {
  waitingForIntra_ = true;
  width_ = 0;
  height_ = 0;
  frame_.clear();
}

uint32_t CMpeg4RTPMediaParser::FinishHeld(uint64_t idleMs) {
  uint32_t waitMs = 0;
  if (!UnmarkedFrameDue(idleMs, waitMs)) return waitMs;
  ProcessFrame(frameTimestamp_);
  frame_.clear();
  return 0;
}

void CMpeg4RTPMediaParser::ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) {
  // Without marker bits a frame ends where the next time stamp begins.
  if (EndsUnmarkedFrame(packet)) {
    ProcessFrame(frameTimestamp_);
    frame_.clear();
    frameTimestamp_ = packet.GetTimestamp();
  }
  // Configuration in band: the headers in front of the first VOP.
  size_t offset = 0;
  if (size >= 5 && IsStartCode(payload, size, kVisualObjectSequence)) {
    const size_t vop = FindStartCode(payload, size, 4, kVop);
    if (vop < size) {
      inbandConfig_.assign(payload, payload + vop);
      offset = vop;
    } else if (size <= kMaxBareConfig) {
      inbandConfig_.assign(payload, payload + size);
      offset = size;
    }
  }

  // A picture starts with a VOP, or with a GOV header right before one
  // (encoders put one in front of every I-VOP).
  const uint8_t* rest = payload + offset;
  const size_t restSize = size - offset;
  size_t vop = restSize;
  if (restSize > 4 && IsStartCode(rest, restSize, kVop)) {
    vop = 0;
  } else if (restSize > 4 && IsStartCode(rest, restSize, kGroupOfVop)) {
    vop = FindStartCode(rest, restSize, 4, kVop);
  }
  if (vop + 4 < restSize) {
    frame_.clear();
    if ((rest[vop + 4] >> 6) == 0) {  // I-VOP
      const std::vector<uint8_t>& config = !inbandConfig_.empty() ? inbandConfig_ : config_;
      frame_.append(config.data(), config.size());
      waitingForIntra_ = false;
      keyFrame_ = true;
    } else {
      keyFrame_ = false;
    }
  }

  if (!waitingForIntra_ && restSize > 0) {
    frame_.append(rest, restSize);
    if (!CheckBufferSize()) return;
  }
  if (packet.GetMarker() && !frame_.empty()) {
    ProcessFrame(packet.GetTimestamp());
    frame_.clear();
  }
}

void CMpeg4RTPMediaParser::ProcessFrame(uint32_t rtpTimestamp) {
  ipcapture::IMediaSampleAllocator* allocator = SampleAllocator();
  if (!client_ || frame_.empty()) return;

  uint32_t fourcc = ipcapture::kFourCC_DIVI;
  if (keyFrame_) {
    uint32_t width = 0, height = 0;
    if (ParseMpegHeader(frame_.data(), static_cast<uint32_t>(frame_.size()), &width, &height) < 1) {
      Reset();
      return;
    }
    fourcc = ipcapture::kFourCC_DIVX;
    width_ = width;
    height_ = height;
  }

  const uint32_t size = static_cast<uint32_t>(frame_.size());
  ipcapture::IMediaSample* sample = CreateFrameSample(allocator, fourcc, size);
  if (!sample) return;

  StampSample(sample, rtpTimestamp, size, fourcc);
  if (!CopyFrame(allocator, sample, "orbisan::CMpeg4RTPMediaParser::ProcessFrame")) return;
  DeliverSample(allocator, sample);
}

}  // namespace orbisan
