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
// Pictures whose marker was followed by the next picture before the marker
// is believed to end pictures.
constexpr int kMarkerProofs = 3;

enum NalType : uint8_t {
  kNalIdr = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
  kNalFiller = 12,
  kStapA = 24,
  kFuA = 28
};

bool IsVcl(uint8_t type) { return type >= 1 && type <= 5; }

// Position of the next 00 00 01 at or after from, or size.
size_t FindStartCode(const uint8_t* p, size_t size, size_t from) {
  for (size_t i = from; i + 2 < size;) {
    if (p[i + 2] > 1) {
      i += 3;
    } else if (p[i + 2] == 1 && p[i + 1] == 0 && p[i] == 0) {
      return i;
    } else {
      ++i;
    }
  }
  return size;
}

// Length of a start code (three or four bytes) at p, 0 when there is none.
size_t StartCodeAt(const uint8_t* p, size_t size) {
  if (size >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1) return 3;
  if (size >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1) return 4;
  return 0;
}

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDebugMessage* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::Reset() {
  waitingForKeyFrame_ = true;
  skippingFragments_ = false;
  inFragment_ = false;
  fragmentedSet_.clear();
  hasVcl_ = false;
  heldByMarker_ = false;
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
      describedSetsOnly_ = true;
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

void CH264RTPMediaParser::SequenceBroken(const CRTPPacket& packet) {
  // A gap between two pictures loses nothing of either: the last one was
  // whole (its marker came), this packet begins the next, and no picture
  // fits in between. A camera that renumbers its packets keeps its stream.
  if (heldByMarker_) FinishPicture();  // whole: its marker came
  const uint8_t* p = packet.GetPayload();
  const size_t size = p ? packet.GetPayloadLength() : 0;
  bool startsPicture = false;
  if (size >= 2) {
    uint8_t type = p[0] & 0x1F;
    uint8_t next = p[1];
    if (type == kFuA) {
      startsPicture = (p[1] & 0x80) != 0;
      type = p[1] & 0x1F;
      next = size > 2 ? p[2] : 0;
    } else {
      startsPicture = type >= 1 && type <= kStapA;
      if (type == kStapA) startsPicture = size > 3 && !IsVcl(p[3] & 0x1F);
    }
    startsPicture = startsPicture && (!IsVcl(type) || (next & 0x80) != 0);
  }
  const uint32_t step = packet.GetTimestamp() - lastPictureTimestamp_;
  const bool noneMissing = havePicture_ && pictureStep_ != 0 && step != 0 && step <= pictureStep_ + pictureStep_ / 2;
  if (!waitingForKeyFrame_ && !hasVcl_ && startsPicture && noneMissing) return;
  Reset();
}

void CH264RTPMediaParser::ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) {
  packetTimestamp_ = packet.GetTimestamp();
  // A picture is one time stamp: a new one ends the picture in progress.
  if (hasVcl_ && packetTimestamp_ != frameTimestamp_) FinishPicture();
  const bool ok = Depacketize(payload, size);
  if (!ok || !CheckBufferSize()) {
    Reset();
    return;
  }
  // A marker on parameter sets alone ends nothing: a picture needs a slice.
  if (!packet.GetMarker() || !hasVcl_) return;
  sawMarker_ = true;
  if (markers_ == Markers::kTrusted) {
    FinishPicture();
  } else {
    heldByMarker_ = true;
  }
}

uint32_t CH264RTPMediaParser::FinishHeld(uint64_t idleMs) {
  if (!hasVcl_) return 0;
  // A stream with trusted markers ends its pictures itself.
  if (!heldByMarker_ && sawMarker_ && markers_ != Markers::kSlices) return 0;
  const uint64_t hold = heldByMarker_ ? kMarkedHoldMs : kUnmarkedHoldMs;
  // A unit cut into fragments is not whole before its last one, however long
  // a stalled sender or a retransmitting connection pauses inside it: the
  // next time stamp ends such a picture, not the wait.
  if (inFragment_ && !heldByMarker_ && idleMs != UINT64_MAX) return static_cast<uint32_t>(hold);
  if (idleMs < hold) return static_cast<uint32_t>(hold - idleMs);
  FinishPicture();
  return 0;
}

bool CH264RTPMediaParser::Depacketize(const uint8_t* payload, size_t size) {
  if (!payload || size == 0) return false;
  const uint8_t type = payload[0] & 0x1F;
  // A fragmented set whose end bit never came is whole where the next unit starts.
  if (!fragmentedSet_.empty() && !(type == kFuA && size >= 2 && (payload[1] & 0x80) == 0)) KeepFragmentedSet();
  if (type >= 1 && type <= 23) {
    if (size < 2) return false;
    ProcessUnit(payload, size);
    return true;
  }
  if (type == kStapA) return ProcessStapA(payload, size);
  if (type == kFuA) return ProcessFuA(payload, size);
  // A byte stream where a NAL unit should be: cameras that packetize
  // Annex B output as it is.
  if (StartCodeAt(payload, size) != 0) {
    ProcessUnit(payload, size);
    return true;
  }
  return false;  // STAP-B, MTAPs, FU-B and reserved types
}

void CH264RTPMediaParser::ProcessUnit(const uint8_t* data, size_t size) {
  size_t at = FindStartCode(data, size, 0);
  if (at == size) {
    ProcessNal(data, size);
    return;
  }
  size_t begin = 0;
  for (;;) {
    // Zero bytes in front of a start code belong to it, not to the unit.
    size_t end = at;
    while (end > begin && data[end - 1] == 0) --end;
    if (end > begin) ProcessNal(data + begin, end - begin);
    if (at == size) return;
    begin = at + 3;
    at = FindStartCode(data, size, begin);
  }
}

void CH264RTPMediaParser::ProcessNal(const uint8_t* nal, size_t size) {
  if (size < 2) return;
  const uint8_t type = nal[0] & 0x1F;
  if (type == 0 || type >= kStapA) return;  // not a NAL unit of a byte stream
  if (!BeginNal(nal[0], nal[1])) return;
  switch (type) {
    case kNalSei:
    case kNalAud:
    case kNalFiller:
      break;
    case kNalSps:
      sps_.assign(nal, nal + size);
      describedSetsOnly_ = false;
      break;
    case kNalPps:
      pps_.assign(nal, nal + size);
      break;
    default:
      if (type == kNalIdr) InsertParameterSets();
      if (IsVcl(type)) MarkVcl();
      AppendNal(nal, size);
      break;
  }
}

bool CH264RTPMediaParser::BeginNal(uint8_t header, uint8_t next) {
  const uint8_t type = header & 0x1F;
  const bool vcl = IsVcl(type);
  // first_mb_in_slice is 0 exactly when the slice header starts with a 1 bit.
  const bool firstSlice = vcl && (next & 0x80) != 0;
  // Parameter sets are no boundary: payloaders repeat them in front of
  // every slice of a key frame.
  const bool startsAccessUnit = firstSlice || type == kNalAud;
  if (hasVcl_) {
    if (startsAccessUnit) {
      FinishPicture();
    } else if (vcl && heldByMarker_) {
      // A slice of the same picture after its marker: this camera marks slices.
      heldByMarker_ = false;
      markers_ = Markers::kSlices;
    }
    return true;
  }
  if (vcl && !firstSlice && havePicture_ && packetTimestamp_ == lastPictureTimestamp_) {
    // The rest of a picture already handed on at a marker that ended only
    // a slice; from now on pictures end by time stamp.
    markers_ = Markers::kSlices;
    return false;
  }
  return true;
}

bool CH264RTPMediaParser::ProcessStapA(const uint8_t* payload, size_t size) {
  if (size < 3) return false;
  size_t pos = 1;
  while (size - pos > 1) {
    const size_t unitSize = (size_t{payload[pos]} << 8) | payload[pos + 1];
    pos += 2;
    if (pos == size) break;  // a trailing size field with nothing behind it
    if (unitSize > size - pos) return false;
    // Empty units (some cameras pad aggregates with them) carry nothing.
    if (unitSize > 0) ProcessUnit(payload + pos, unitSize);
    pos += unitSize;
  }
  return true;
}

bool CH264RTPMediaParser::ProcessFuA(const uint8_t* payload, size_t size) {
  // An empty fragment (header bytes only) is legal and carries nothing.
  if (size < 2) return false;
  const uint8_t indicator = payload[0];
  const uint8_t header = payload[1];
  const uint8_t* data = payload + 2;
  size_t length = size - 2;
  if (header & 0x80) {
    // Start of a fragmented NAL unit; one whose end never came is over. The
    // reserved bit is ignored.
    uint8_t nalHeader = static_cast<uint8_t>((indicator & 0xE0) | (header & 0x1F));
    // A camera that fragments its byte stream as it is: the unit's own
    // header follows a start code.
    if (const size_t code = StartCodeAt(data, length); code != 0 && length > code) {
      nalHeader = data[code];
      data += code + 1;
      length -= code + 1;
    }
    const uint8_t type = nalHeader & 0x1F;
    inFragment_ = true;
    // SEI and delimiters are left out as they are from single packets; a
    // fragmented SEI in front of an IDR (encoders send long ones) would
    // otherwise keep the parameter sets out of the key frame.
    skippingFragments_ = !BeginNal(nalHeader, length > 0 ? data[0] : 0x80) || type == kNalSei || type == kNalAud ||
                         type == kNalFiller || type == 0 || type >= kStapA;
    if (!skippingFragments_ && (type == kNalSps || type == kNalPps)) {
      fragmentedSet_.assign(1, nalHeader);
    } else if (!skippingFragments_) {
      // As for an unfragmented IDR: the known sets go in front, also right
      // after a start or a loss, when they came only with the description (a
      // large key frame always comes fragmented).
      if (type == kNalIdr) InsertParameterSets();
      if (IsVcl(type)) MarkVcl();
      frame_.append(kStartCode, sizeof kStartCode);
      frame_.push_back(nalHeader);
    }
  } else if (!inFragment_) {
    return true;  // the rest of a unit whose start is missing
  }
  if (!fragmentedSet_.empty()) {
    fragmentedSet_.insert(fragmentedSet_.end(), data, data + length);
    if (fragmentedSet_.size() > kMaxSpsBytes) {
      // No parameter set is that long: the rest of the unit is left out.
      fragmentedSet_.clear();
      skippingFragments_ = true;
    }
  } else if (!skippingFragments_) {
    frame_.append(data, length);
  }
  if (header & 0x40) {
    inFragment_ = false;
    KeepFragmentedSet();
  }
  return true;
}

void CH264RTPMediaParser::KeepFragmentedSet() {
  if (fragmentedSet_.size() >= 2) {
    const bool sps = (fragmentedSet_[0] & 0x1F) == kNalSps;
    (sps ? sps_ : pps_).swap(fragmentedSet_);
    if (sps) describedSetsOnly_ = false;
  }
  fragmentedSet_.clear();
}

void CH264RTPMediaParser::MarkVcl() {
  if (hasVcl_) return;
  hasVcl_ = true;
  frameTimestamp_ = packetTimestamp_;
}

void CH264RTPMediaParser::AppendNal(const uint8_t* nal, size_t size) {
  frame_.append(kStartCode, sizeof kStartCode);
  frame_.append(nal, size);
}

void CH264RTPMediaParser::InsertParameterSets() {
  if (hasVcl_ || sps_.empty() || pps_.empty()) return;
  AppendNal(sps_.data(), sps_.size());
  AppendNal(pps_.data(), pps_.size());
}

void CH264RTPMediaParser::FinishPicture() {
  if (heldByMarker_ && markers_ == Markers::kProbation && ++markerProofs_ >= kMarkerProofs) {
    markers_ = Markers::kTrusted;
  }
  if (havePicture_ && frameTimestamp_ != lastPictureTimestamp_) pictureStep_ = frameTimestamp_ - lastPictureTimestamp_;
  havePicture_ = true;
  lastPictureTimestamp_ = frameTimestamp_;
  hasVcl_ = false;
  heldByMarker_ = false;
  inFragment_ = false;  // a unit whose end bit never came ends with its picture
  fragmentedSet_.clear();
  skippingFragments_ = false;
  ProcessFrame(frameTimestamp_);
  frame_.clear();
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

bool CH264RTPMediaParser::DoubtDescribedSets(uint32_t width, uint32_t height) {
  if (!describedSetsOnly_ || passedDoubtfulKeyFrame_) return false;
  const auto [configuredWidth, configuredHeight] = DefaultResolution();
  if (configuredWidth == 0 || configuredHeight == 0 || (width == configuredWidth && height == configuredHeight)) {
    return false;
  }
  // Only one key frame is given up: a camera that never sends its own sets
  // is played with the description's from the next one on.
  passedDoubtfulKeyFrame_ = true;
  return true;
}

void CH264RTPMediaParser::ProcessFrame(uint32_t rtpTimestamp) {
  ipcapture::IMediaSampleAllocator* allocator = SampleAllocator();
  if (!client_ || frame_.empty()) return;

  frame_.append(kAccessUnitDelimiter, sizeof kAccessUnitDelimiter);

  uint32_t width = 0, height = 0;
  uint32_t fourcc = ipcapture::kFourCC_I264;
  if (FindKeyFrameSize(width, height)) {
    if (waitingForKeyFrame_ && DoubtDescribedSets(width, height)) {
      frame_.clear();
      return;
    }
    fourcc = ipcapture::kFourCC_H264;
    width_ = width;
    height_ = height;
    waitingForKeyFrame_ = false;
  } else if (waitingForKeyFrame_) {
    frame_.clear();
    return;
  }

  const uint32_t size = static_cast<uint32_t>(frame_.size());
  ipcapture::IMediaSample* sample = CreateFrameSample(allocator, fourcc, size);
  if (!sample) return;

  if (!CopyFrame(allocator, sample, "orbisan::CH264RTPMediaParser::ProcessFrame")) return;

  UseDefaultSizeIfSmall();
  StampSample(sample, rtpTimestamp, size, fourcc);
  DeliverSample(allocator, sample);
}

}  // namespace orbisan
