#include "rtsp/rtsp_stream_parser.h"

#include <algorithm>
#include <cstring>

namespace orbisan {

CRTSPStreamParser::CRTSPStreamParser(IRTSPClientUser* user, uint8_t channel) : user_(user), marker_{'$', channel} {}

void CRTSPStreamParser::Deliver(const uint8_t* data, size_t length) {
  if (!packet_.Parse(data, length) || user_ == nullptr) return;
  try {
    user_->RtpPacketReceived(packet_);
  } catch (...) {
  }
}

void CRTSPStreamParser::Feed(const uint8_t* data, size_t length) {
  if (data == nullptr) return;
  size_t i = 0;
  while (i < length) {
    if (inPacket_) {
      const size_t take = std::min(missing_, length - i);
      if (buffer_.empty() && take == missing_) {
        // The whole packet is in this block: parse it in place.
        Deliver(data + i, take);
      } else {
        buffer_.insert(buffer_.end(), data + i, data + i + take);
        if (take == missing_) Deliver(buffer_.data(), buffer_.size());
      }
      i += take;
      missing_ -= take;
      if (missing_ == 0) {
        inPacket_ = false;
        buffer_.clear();
      }
      continue;
    }
    if (matched_ == 2) {
      lengthBytes_[lengthMatched_++] = data[i++];
      if (lengthMatched_ == 2) {
        missing_ = static_cast<size_t>((lengthBytes_[0] << 8) | lengthBytes_[1]);
        matched_ = 0;
        lengthMatched_ = 0;
        inPacket_ = missing_ > 0;  // a zero length restarts the search
      }
      continue;
    }
    if (matched_ == 0) {
      const void* dollar = std::memchr(data + i, '$', length - i);
      if (dollar == nullptr) return;
      const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(dollar) - data);
      if (length - at >= 4 && data[at + 1] == marker_[1]) {
        // Common case: marker and length in this block; a packet that is
        // also complete here is parsed without going through the buffer.
        const size_t packetLength = static_cast<size_t>((data[at + 2] << 8) | data[at + 3]);
        i = at + 4;
        if (packetLength == 0) continue;
        if (packetLength <= length - i) {
          Deliver(data + i, packetLength);
          i += packetLength;
        } else {
          missing_ = packetLength;
          inPacket_ = true;
        }
        continue;
      }
      i = at + 1;
      matched_ = 1;
      continue;
    }
    // One "$" seen: the next byte must be the channel.
    if (data[i] == marker_[1]) {
      matched_ = 2;
      ++i;
    } else {
      // Not our marker; this byte may itself start one.
      matched_ = 0;
    }
  }
}

}  // namespace orbisan
