#include "rtsp/rtsp_stream_parser.h"

#include <algorithm>
#include <cstring>

#include "rtsp/rtsp_response_parser.h"

namespace orbisan {

namespace {

constexpr std::string_view kAnswerStart = "RTSP/";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr size_t kFrameHeader = 4;
constexpr size_t kMinFrameBody = 4;  // an RTCP header; RTP needs more

constexpr size_t kMaxMethod = 20;
constexpr size_t kMaxRequestLine = 2048;

// Where the next unit may start: "$", or a capital letter ("RTSP/" of an
// answer, the method of a request).
size_t NextCandidate(const uint8_t* data, size_t from, size_t length) {
  for (size_t i = from; i < length; ++i) {
    if (data[i] == '$' || (data[i] >= 'A' && data[i] <= 'Z')) return i;
  }
  return length;
}

enum class Line { kYes, kNo, kNeedMore };

// Whether data starts a request line "METHOD URL RTSP/x.y" followed by a
// line end. Decided from the bytes alone (a prefix that may still become
// one needs more), so that block cuts never change the outcome.
Line RequestLine(const uint8_t* data, size_t available) {
  size_t i = 0;
  while (i < available && i < kMaxMethod && ((data[i] >= 'A' && data[i] <= 'Z') || data[i] == '_')) ++i;
  if (i == available) return Line::kNeedMore;
  if (i == 0 || data[i] != ' ') return Line::kNo;
  const size_t urlStart = ++i;
  while (i < available && i < kMaxRequestLine && data[i] > ' ' && data[i] < 0x7F) ++i;
  if (i == available) return i < kMaxRequestLine ? Line::kNeedMore : Line::kNo;
  if (i == urlStart || data[i] != ' ') return Line::kNo;
  ++i;
  for (size_t k = 0; k < kAnswerStart.size(); ++k, ++i) {
    if (i == available) return Line::kNeedMore;
    if (data[i] != static_cast<uint8_t>(kAnswerStart[k])) return Line::kNo;
  }
  while (i < available && ((data[i] >= '0' && data[i] <= '9') || data[i] == '.')) ++i;
  if (i == available) return Line::kNeedMore;
  return data[i] == '\r' || data[i] == '\n' ? Line::kYes : Line::kNo;
}

}  // namespace

CRTSPStreamParser::CRTSPStreamParser(IRTSPClientUser* user, uint8_t channel) : user_(user), channel_(channel) {}

void CRTSPStreamParser::Reset() {
  pending_.clear();
  scanned_ = 0;
}

CRTSPStreamParser::Unit CRTSPStreamParser::Classify(const uint8_t* data, size_t available, size_t& size) {
  if (data[0] == '$') {
    if (available < kFrameHeader) return Unit::kNeedMore;
    // Noise between frames is passed over up to a plausible frame header: a
    // channel of this session and a body that starts like RTP or RTCP
    // (version 2), so that a stray "$" never swallows the frames behind it.
    const size_t length = static_cast<size_t>((data[2] << 8) | data[3]);
    const bool known = data[1] == channel_ || data[1] == static_cast<uint8_t>(channel_ + 1);
    if (!known || length < kMinFrameBody) return Unit::kNone;
    if (available <= kFrameHeader) return Unit::kNeedMore;
    if ((data[kFrameHeader] >> 6) != 2) return Unit::kNone;
    size = kFrameHeader + length;
    return available >= size ? Unit::kFrame : Unit::kNeedMore;
  }
  // Only where a skip may stop: a block that begins past skipped noise must
  // not start a unit the same bytes in one block would not.
  if (data[0] < 'A' || data[0] > 'Z') return Unit::kNone;
  const size_t prefix = std::min(available, kAnswerStart.size());
  if (std::memcmp(data, kAnswerStart.data(), prefix) != 0) {
    // Not an answer; maybe the camera asking something.
    const Line line = RequestLine(data, available);
    if (line == Line::kNeedMore) return Unit::kNeedMore;
    return line == Line::kYes ? ClassifyText(data, available, size, Unit::kRequest) : Unit::kNone;
  }
  if (available < kAnswerStart.size()) return Unit::kNeedMore;
  return ClassifyText(data, available, size, Unit::kAnswer);
}

CRTSPStreamParser::Unit CRTSPStreamParser::ClassifyText(const uint8_t* data, size_t available, size_t& size,
                                                        Unit whole) {
  // Only the part not yet searched is searched again (a trickling answer),
  // and never beyond the cap, so that the outcome does not depend on how the
  // bytes were cut into blocks.
  const size_t cap = CRTSPResponseParser::kMaxAnswerBytes;
  const std::string_view text(reinterpret_cast<const char*>(data), std::min(available, cap));
  const size_t from = scanned_ > kHeaderEnd.size() ? scanned_ - kHeaderEnd.size() : 0;
  const size_t headerEnd = text.find(kHeaderEnd, from);
  if (headerEnd == std::string_view::npos) {
    scanned_ = text.size();
    if (available < cap) return Unit::kNeedMore;
    size = cap;
    return whole == Unit::kRequest ? Unit::kRefusedRequest : Unit::kRefusedAnswer;
  }
  const size_t headerSize = headerEnd + kHeaderEnd.size();
  uint64_t bodySize = 0;
  if (!CRTSPResponseParser::ReadContentLength(text.substr(0, headerSize), bodySize)) bodySize = 0;
  if (headerSize + bodySize > cap) {
    // Not trusted, not skipped by its length either: a body that large is
    // not an answer this client reads.
    size = headerSize;
    return whole == Unit::kRequest ? Unit::kRefusedRequest : Unit::kRefusedAnswer;
  }
  size = headerSize + static_cast<size_t>(bodySize);
  return available >= size ? whole : Unit::kNeedMore;
}

void CRTSPStreamParser::DeliverRtp(const uint8_t* data, size_t length) {
  // The packet refers into the block being fed; users get it only for the call.
  if (user_ == nullptr || !packet_.ParseInPlace(data, length)) return;
  try {
    user_->RtpPacketReceived(packet_);
  } catch (...) {
  }
}

void CRTSPStreamParser::Dispatch(Unit unit, const uint8_t* data, size_t size) {
  scanned_ = 0;
  if (unit == Unit::kFrame) {
    const uint8_t channel = data[1];
    const uint8_t* body = data + kFrameHeader;
    const size_t bodySize = size - kFrameHeader;
    if (bodySize == 0) return;
    if (channel == channel_) {
      DeliverRtp(body, bodySize);
    } else if (channel == static_cast<uint8_t>(channel_ + 1) && rtcpSink_) {
      rtcpSink_(body, bodySize);
    }
    return;
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (unit == Unit::kRefusedRequest) return;  // no camera question is that large
  if (unit == Unit::kRequest) {
    if (requestSink_) requestSink_(text);
    return;
  }
  if (answerSink_) answerSink_(text, unit == Unit::kAnswer);
}

size_t CRTSPStreamParser::Process(const uint8_t* data, size_t length) {
  size_t i = 0;
  while (i < length) {
    size_t size = 0;
    const Unit unit = Classify(data + i, length - i, size);
    if (unit == Unit::kNeedMore) break;
    if (unit == Unit::kNone) {
      const size_t next = NextCandidate(data, i + 1, length);
      scanned_ = 0;
      i = next;
      continue;
    }
    Dispatch(unit, data + i, size);
    i += size;
  }
  return i;
}

void CRTSPStreamParser::Feed(const uint8_t* data, size_t length) {
  if (data == nullptr || length == 0) return;
  if (pending_.empty()) {
    // Common case: whole units are handled in place, only a cut one is kept.
    const size_t used = Process(data, length);
    pending_.assign(data + used, data + length);
    return;
  }
  pending_.insert(pending_.end(), data, data + length);
  const size_t used = Process(pending_.data(), pending_.size());
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
}

}  // namespace orbisan
