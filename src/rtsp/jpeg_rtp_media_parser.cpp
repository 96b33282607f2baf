#include "rtsp/jpeg_rtp_media_parser.h"

#include <cstring>

#include "rtsp/jpeg_header.h"
#include "rtsp/resolution_class.h"

namespace orbisan {
namespace {

constexpr size_t kMainHeader = 8;
constexpr size_t kRestartHeader = 4;
constexpr size_t kQuantHeader = 4;
// Largest width or height the RTP/JPEG header can give (255 x 8).
constexpr uint32_t kMaxHeaderSize = 2040;

bool HasRestartHeader(uint8_t type) { return type >= 64 && type <= 127; }

uint32_t FragmentOffset(const uint8_t* p) { return (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

}  // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDebugMessage* driver) : CRTPMediaParser(driver) {}

void CJpegRTPMediaParser::Reset() {
  waitingForFirstFragment_ = true;
  width_ = 0;
  height_ = 0;
  frame_.clear();
}

uint32_t CJpegRTPMediaParser::FinishHeld(uint64_t idleMs) {
  uint32_t waitMs = 0;
  if (!UnmarkedFrameDue(idleMs, waitMs)) return waitMs;
  ProcessFrame(frameTimestamp_);
  frame_.clear();
  return 0;
}

void CJpegRTPMediaParser::ProcessPayload(const CRTPPacket& packet, const uint8_t* payload, size_t size) {
  // Without marker bits a frame ends where the next time stamp begins.
  if (EndsUnmarkedFrame(packet)) {
    ProcessFrame(frameTimestamp_);
    frame_.clear();
    frameTimestamp_ = packet.GetTimestamp();
  }
  if (size < 4) return;

  if (FragmentOffset(payload) == 0) {
    if (size > 11) headerLength_ = HasRestartHeader(payload[4]) ? kMainHeader + kRestartHeader : kMainHeader;
    // A picture whose last packet never came (without a gap in the
    // numbering) must not run into this one.
    frame_.clear();
    frame_.append(payload, size);
    waitingForFirstFragment_ = false;
  } else {
    if (waitingForFirstFragment_) {
      Reset();
      return;
    }
    if (size > headerLength_) frame_.append(payload + headerLength_, size - headerLength_);
  }

  if (!CheckBufferSize()) return;
  if (packet.GetMarker() && !frame_.empty()) {
    ProcessFrame(packet.GetTimestamp());
    frame_.clear();
  }
}

void CJpegRTPMediaParser::ProcessFrame(uint32_t rtpTimestamp) {
  if (!client_ || frame_.empty()) return;

  // End of image, unless the last marker in the data already is one.
  size_t lastFF = frame_.size();
  for (size_t i = frame_.size(); i-- > 0;) {
    if (frame_[i] == 0xFF) {
      lastFF = i;
      break;
    }
  }
  if (lastFF + 1 >= frame_.size() || frame_[lastFF + 1] != 0xD9) {
    frame_.push_back(0xFF);
    frame_.push_back(0xD9);
  }

  ipcapture::IMediaSampleAllocator* allocator = SampleAllocator();
  ipcapture::IMediaSample* sample = nullptr;
  if (allocator) {
    sample =
        allocator->CreateSample(ipcapture::kFourCC_JPEG, static_cast<uint32_t>(frame_.size() + CJpegHeader::kMaxSize),
                                client_->GetStreamName().c_str());
  }
  if (!sample) {
    if (driver_) {
      driver_->DebugMessage(kLogError, "%s: Frame allocation error, device %s",
                            "orbisan::CJpegRTPMediaParser::ProcessFrame", driver_->GetDeviceName().c_str());
    }
    return;
  }

  uint8_t* buffer = sample->GetBuffer();
  const size_t imageSize = buffer ? BuildImage(buffer, sample->GetSize()) : 0;
  if (imageSize == 0) {
    Reset();
    allocator->ReleaseSample(sample);
    return;
  }
  SYSTEMTIME time{};
  client_->ConvertTimestamp(rtpTimestamp, time);
  sample->SetDataSize(static_cast<uint32_t>(imageSize));
  sample->SetWidth(width_);
  sample->SetHeight(height_);
  sample->SetResolutionClass(ResolutionClass(width_, height_));
  sample->SetTime(&time);
  DeliverSample(allocator, sample);
}

size_t CJpegRTPMediaParser::BuildImage(uint8_t* out, size_t capacity) {
  const uint8_t* data = frame_.data();
  const size_t size = frame_.size();
  if (size <= kMainHeader || FragmentOffset(data) != 0) return 0;

  CJpegHeader::Params params;
  params.type = data[4];
  const uint8_t q = data[5];
  uint32_t width = uint32_t{data[6]} * 8;
  uint32_t height = uint32_t{data[7]} * 8;

  // The header counts in units of 8 up to 2040 pixels. A picture that is
  // bigger shows 0 or a wrapped value there; then the configured size (more
  // than twice the header's and beyond what it can say) or the
  // description's is the real one. A smaller configured size is no reason to
  // touch the header: the camera may well send another size than requested.
  const auto [defaultWidth, defaultHeight] = DefaultResolution();
  if (width == 0 || (defaultWidth > 2 * width && defaultWidth > kMaxHeaderSize))
    width = sdpWidth_ ? sdpWidth_ : defaultWidth;
  if (height == 0 || (defaultHeight > 2 * height && defaultHeight > kMaxHeaderSize))
    height = sdpHeight_ ? sdpHeight_ : defaultHeight;
  if (width == 0) width = 2048;
  if (height == 0) height = 2048;
  if (width > 0xFFFF || height > 0xFFFF) return 0;
  width_ = width;
  height_ = height;
  params.width = static_cast<uint16_t>(width);
  params.height = static_cast<uint16_t>(height);

  size_t pos = kMainHeader;
  if (HasRestartHeader(params.type)) {
    if (size < kMainHeader + kRestartHeader) return 0;
    params.restartInterval = static_cast<uint16_t>((data[pos] << 8) | data[pos + 1]);
    pos += kRestartHeader;
  }

  uint8_t computed[128];
  bool haveTables = false;
  if (q >= 128) {
    if (size < pos + kQuantHeader) return 0;
    const uint8_t mbz = data[pos];
    const uint8_t precision = data[pos + 1];
    const size_t length = (size_t{data[pos + 2]} << 8) | data[pos + 3];
    pos += kQuantHeader;
    if (length > size - pos) return 0;
    if (mbz == 0 && length > 0) {
      // 16-bit tables would need another DQT layout; none of the senders
      // this serves uses them.
      if (precision != 0) return 0;
      params.tables = data + pos;
      params.tableSize = length;
      haveTables = true;
      if (q != 255 && (length == 64 || length == 128)) {
        cachedTablesQ_ = q;
        cachedTables_.assign(data + pos, data + pos + length);
      }
    } else if (mbz == 0 && q != 255 && q == cachedTablesQ_) {
      // Below 255 a sender may leave out tables it sent with an earlier
      // picture of the same Q.
      params.tables = cachedTables_.data();
      params.tableSize = cachedTables_.size();
      haveTables = true;
    }
    pos += length;
  }
  if (!haveTables) {
    CJpegHeader::MakeTables(q, computed);
    params.tables = computed;
    params.tableSize = sizeof(computed);
  }

  if (pos >= size) return 0;  // no scan data
  const size_t scanSize = size - pos;
  const size_t headerSize = CJpegHeader::Write(params, out, capacity);
  if (headerSize == 0 || scanSize > capacity - headerSize) return 0;
  std::memcpy(out + headerSize, data + pos, scanSize);
  return headerSize + scanSize;
}

}  // namespace orbisan
