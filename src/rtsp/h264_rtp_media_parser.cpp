#include "rtsp/h264_rtp_media_parser.h"

#include <algorithm>
#include <cstring>

namespace orbisan {
namespace {

constexpr uint8_t kStartCode[] = {0, 0, 1};
// Access unit delimiter (primary_pic_type 1) closing every delivered frame.
constexpr uint8_t kAccessUnitDelimiter[] = {0, 0, 1, 0x09, 0x30};
// Only this much of a frame is searched for a sequence parameter set.
constexpr size_t kKeyFrameSearchBytes = 64;
// Longer than any sequence parameter set up to the fields that are read.
constexpr size_t kMaxSpsBytes = 4096;

enum NalType : uint8_t { kNalIdr = 5, kNalSei = 6, kNalSps = 7, kNalPps = 8, kNalAud = 9, kStapA = 24, kFuA = 28 };

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDebugMessage* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::Reset() {
  waitingForKeyFrame_ = true;
  skippingFragments_ = false;
  width_ = 0;
  height_ = 0;
  frame_.clear();
}

void CH264RTPMediaParser::SetSdpParameters(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                           const std::vector<uint8_t>&, uint32_t, uint32_t) {
  if (!sps.empty() && !pps.empty()) {
    uint32_t width = 0, height = 0;
    if (spsParser_.Parse(sps.data(), sps.size(), width, height)) {
      sps_ = sps;
      pps_ = pps;
      width_ = width;
      height_ = height;
    }
  }
  UseDefaultSizeIfSmall();
}

void CH264RTPMediaParser::UseDefaultSizeIfSmall() {
  if (width_ < 160 || height_ < 120) {
    const auto size = DefaultResolution();
    width_ = size.first;
    height_ = size.second;
  }
}

void CH264RTPMediaParser::ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) {
  const bool ok = Depacketize(payload, size);
  if (!ok || !CheckBufferSize()) {
    Reset();
    return;
  }
  if (packet.GetMarker()) {
    if (!frame_.empty()) {
      ProcessFrame(packet.GetTimestamp());
      frame_.clear();
    }
  }
}

bool CH264RTPMediaParser::Depacketize(const uint8_t* payload, size_t size) {
  if (!payload || size == 0) return false;
  const uint8_t type = payload[0] & 0x1F;
  if (type >= 1 && type <= 23) return ProcessSingleNal(payload, size);
  if (type == kStapA) return ProcessStapA(payload, size);
  if (type == kFuA) return ProcessFuA(payload, size);
  return false;  // STAP-B, MTAPs, FU-B and reserved types
}

bool CH264RTPMediaParser::ProcessSingleNal(const uint8_t* payload, size_t size) {
  if (size < 2) return false;
  switch (payload[0] & 0x1F) {
    case kNalIdr:
      InsertParameterSets();
      AppendNal(payload, size);
      break;
    case kNalSei:
    case kNalAud:
      break;
    case kNalSps:
      sps_.assign(payload, payload + size);
      break;
    case kNalPps:
      pps_.assign(payload, payload + size);
      break;
    default:
      AppendNal(payload, size);
      break;
  }
  return true;
}

bool CH264RTPMediaParser::ProcessStapA(const uint8_t* payload, size_t size) {
  if (size < 4) return false;
  size_t pos = 1;
  while (size - pos > 1) {
    const size_t unitSize = (size_t{payload[pos]} << 8) | payload[pos + 1];
    pos += 2;
    if (pos == size) break;  // a trailing size field with nothing behind it
    if (unitSize > size - pos) return false;
    // An empty unit would only give a bare start code.
    if (unitSize > 0) AppendNal(payload + pos, unitSize);
    pos += unitSize;
  }
  return true;
}

bool CH264RTPMediaParser::ProcessFuA(const uint8_t* payload, size_t size) {
  if (size < 3) return false;
  const uint8_t indicator = payload[0];
  const uint8_t header = payload[1];
  if (header & 0x80) {  // start of a fragmented NAL unit
    // SEI and delimiters are left out as they are from single packets; a
    // fragmented SEI in front of an IDR (encoders send long ones) would
    // otherwise keep the parameter sets out of the key frame.
    const uint8_t type = header & 0x1F;
    skippingFragments_ = type == kNalSei || type == kNalAud;
    if (skippingFragments_) return true;
    const uint8_t nalHeader = static_cast<uint8_t>((indicator & 0xE0) | type);
    // As for an unfragmented IDR: the known sets go in front, also right
    // after a start or a loss, when they came only with the description (a
    // large key frame always comes fragmented).
    if ((header & 0x1F) == kNalIdr && frame_.empty()) InsertParameterSets();
    frame_.insert(frame_.end(), std::begin(kStartCode), std::end(kStartCode));
    frame_.push_back(nalHeader);
  }
  if (!skippingFragments_) frame_.insert(frame_.end(), payload + 2, payload + size);
  return true;
}

void CH264RTPMediaParser::AppendNal(const uint8_t* nal, size_t size) {
  frame_.insert(frame_.end(), std::begin(kStartCode), std::end(kStartCode));
  frame_.insert(frame_.end(), nal, nal + size);
}

void CH264RTPMediaParser::InsertParameterSets() {
  if (!frame_.empty() || sps_.empty() || pps_.empty()) return;
  AppendNal(sps_.data(), sps_.size());
  AppendNal(pps_.data(), pps_.size());
}

bool CH264RTPMediaParser::FindKeyFrameSize(uint32_t& width, uint32_t& height) {
  const size_t limit = std::min(frame_.size(), kKeyFrameSearchBytes);
  for (size_t i = 0; i + 3 < limit; ++i) {
    if (frame_[i] != 0 || frame_[i + 1] != 0 || frame_[i + 2] != 1) continue;
    if ((frame_[i + 3] & 0x1F) != kNalSps) continue;
    // The set runs up to the next start code (or a zero byte pair that
    // begins a four-byte one).
    // Only its first few hundred bytes are read, so the search is bounded.
    const size_t begin = i + 3;
    const size_t limitEnd = std::min(frame_.size(), begin + kMaxSpsBytes);
    size_t end = begin + 1;
    while (end + 2 < limitEnd && !(frame_[end] == 0 && frame_[end + 1] == 0 && frame_[end + 2] <= 1)) ++end;
    if (end + 2 >= limitEnd) end = limitEnd;
    return spsParser_.Parse(frame_.data() + begin, end - begin, width, height);
  }
  return false;
}

void CH264RTPMediaParser::ProcessFrame(uint32_t rtpTimestamp) {
  ipcapture::IMediaSampleAllocator* allocator = SampleAllocator();
  if (!allocator || !client_ || frame_.empty()) return;

  frame_.insert(frame_.end(), std::begin(kAccessUnitDelimiter), std::end(kAccessUnitDelimiter));

  uint32_t width = 0, height = 0;
  uint32_t fourcc = ipcapture::kFourCC_I264;
  if (FindKeyFrameSize(width, height)) {
    fourcc = ipcapture::kFourCC_H264;
    width_ = width;
    height_ = height;
    waitingForKeyFrame_ = false;
  } else if (waitingForKeyFrame_) {
    frame_.clear();
    return;
  }

  const uint32_t size = static_cast<uint32_t>(frame_.size());
  ipcapture::IMediaSample* sample = allocator->CreateSample(fourcc, size, client_->GetStreamName().c_str());
  if (!sample) return;

  if (!CopyFrame(allocator, sample, "orbisan::CH264RTPMediaParser::ProcessFrame")) return;

  UseDefaultSizeIfSmall();
  StampSample(sample, rtpTimestamp, size, fourcc);
  DeliverSample(allocator, sample);
}

}  // namespace orbisan
