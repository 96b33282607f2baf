#include "sim/rtp_quirks.h"

namespace strandline::sim {
namespace {

constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;
constexpr uint8_t kFuStart = 0x80;
constexpr uint8_t kFuEnd = 0x40;
constexpr uint8_t kFuReserved = 0x20;
constexpr size_t kLargeFragment = 60000;
constexpr uint32_t kRtpHz = 90000;
// Pictures into the session before the one-off quirks (jumps, restart) strike:
// early enough for a recording of a few seconds to meet them.
constexpr uint32_t kLater = 30;

uint32_t Read32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8 | static_cast<uint8_t>(b[at + 3]);
}

void Put16(std::string& b, uint32_t v) {
  b += static_cast<char>((v >> 8) & 0xFF);
  b += static_cast<char>(v & 0xFF);
}

void Put32(std::string& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v);
}

void Set32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

uint8_t NalType(const std::string& payload) { return payload.empty() ? 0 : static_cast<uint8_t>(payload[0]) & 0x1F; }

bool IsParameterSet(uint8_t type) { return type == 7 || type == 8; }

// NTP time of the wall clock: seconds since 1900 in the high word.
uint64_t NtpNow() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
  const uint64_t seconds = static_cast<uint64_t>(micros / 1000000) + 2208988800ull;
  const uint64_t fraction = (static_cast<uint64_t>(micros % 1000000) << 32) / 1000000;
  return seconds << 32 | fraction;
}

}  // namespace

std::optional<RtpQuirkStream::Packet> RtpQuirkStream::Parse(std::string_view b) {
  if (b.size() < 13 || (static_cast<uint8_t>(b[0]) >> 6) != 2) return std::nullopt;
  const auto first = static_cast<uint8_t>(b[0]);
  size_t at = 12 + 4u * (first & 0x0F);
  size_t end = b.size();
  if ((first & 0x10) && at + 4 <= end)
    at += 4 + 4u * (static_cast<uint8_t>(b[at + 2]) << 8 | static_cast<uint8_t>(b[at + 3]));
  const size_t padding = (first & 0x20) ? static_cast<uint8_t>(b[end - 1]) : 0;
  if (at + padding >= end) return std::nullopt;
  end -= padding;
  Packet p;
  p.marker = (static_cast<uint8_t>(b[1]) & 0x80) != 0;
  p.type = static_cast<uint8_t>(b[1]) & 0x7F;
  p.seq = static_cast<uint16_t>(static_cast<uint8_t>(b[2]) << 8 | static_cast<uint8_t>(b[3]));
  p.ts = Read32(b, 4);
  p.ssrc = Read32(b, 8);
  p.payload.assign(b.substr(at, end - at));
  return p;
}

void RtpQuirkStream::Rtp(std::string_view datagram, Clock::time_point now, std::vector<Out>* out) {
  std::optional<Packet> packet = Parse(datagram);
  if (!packet) return;
  // Packets the encoder's side lost before they got here (a starved relay's
  // full socket, a server dropping for a slow reader) stay a gap in the
  // numbering, so that the client can tell; renumbered away they would
  // leave it damaged pictures it cannot know of.
  const uint16_t step = static_cast<uint16_t>(packet->seq - last_in_seq_);
  if (started_ && step > 1 && step < 3000) next_seq_ = static_cast<uint16_t>(next_seq_ + step - 1);
  last_in_seq_ = packet->seq;
  std::vector<Packet> framed;
  Frame(std::move(*packet), &framed);
  for (Packet& p : framed) Send(std::move(p), now, out);
}

void RtpQuirkStream::Frame(Packet p, std::vector<Packet>* framed) {
  const uint8_t type = NalType(p.payload);
  const bool joinSets = Has(Quirk::kStapAZeroLength) || Has(Quirk::kStartCodesInPayload);
  if (joinSets && held_sets_ && type != 8) {
    framed->push_back(std::move(*held_sets_));
    held_sets_.reset();
  }
  if (joinSets && type == 7) {
    held_sets_ = std::move(p);
    return;
  }
  if (joinSets && type == 8 && held_sets_) {
    Packet joined = std::move(*held_sets_);
    held_sets_.reset();
    const std::string sps = std::move(joined.payload);
    if (Has(Quirk::kStapAZeroLength)) {
      joined.payload.assign(1, static_cast<char>((static_cast<uint8_t>(sps[0]) & 0x60) | kStapA));
      for (const std::string* unit : {&sps, static_cast<const std::string*>(&p.payload)}) {
        Put16(joined.payload, 0);
        Put16(joined.payload, static_cast<uint32_t>(unit->size()));
        joined.payload += *unit;
      }
    } else {
      joined.payload = sps + std::string("\0\0\0\1", 4) + p.payload;
    }
    p = std::move(joined);
  }
  if (IsParameterSet(type) && Has(Quirk::kMarkedParameterSets)) p.marker = true;
  if ((type == 1 || type == 5) && Has(Quirk::kMarkerEverySlice)) p.marker = true;
  if (type >= 1 && type <= 23 && Has(Quirk::kFuAStartEndOne)) {
    const auto nal = static_cast<uint8_t>(p.payload[0]);
    std::string fu;
    fu += static_cast<char>((nal & 0xE0) | kFuA);
    fu += static_cast<char>(kFuStart | kFuEnd | type);
    p.payload = fu + p.payload.substr(1);
  }
  if (NalType(p.payload) == kFuA && p.payload.size() >= 2) {
    auto header = static_cast<uint8_t>(p.payload[1]);
    if (Has(Quirk::kLargeDatagrams)) {
      // Gathers the NAL unit and sends it again in large pieces.
      if (header & kFuStart) {
        fragments_ = p;
        fragments_->payload = std::string(1, static_cast<char>((p.payload[0] & 0xE0) | (header & 0x1F)));
      }
      if (!fragments_) return;
      fragments_->payload.append(p.payload, 2);
      if (!(header & kFuEnd)) return;
      Packet nal = std::move(*fragments_);
      fragments_.reset();
      const std::string whole = std::move(nal.payload);
      if (whole.size() <= kLargeFragment) {
        nal.payload = whole;
        nal.marker = p.marker;
        framed->push_back(std::move(nal));
        return;
      }
      for (size_t at = 1; at < whole.size(); at += kLargeFragment) {
        const bool last = at + kLargeFragment >= whole.size();
        nal.payload.assign(1, static_cast<char>((whole[0] & 0xE0) | kFuA));
        nal.payload += static_cast<char>((at == 1 ? kFuStart : 0) | (last ? kFuEnd : 0) | (whole[0] & 0x1F));
        nal.payload.append(whole, at, kLargeFragment);
        nal.marker = last && p.marker;
        framed->push_back(nal);
      }
      return;
    }
    if ((header & kFuEnd) && Has(Quirk::kMarkerEverySlice)) p.marker = true;
    if (Has(Quirk::kFuAReservedBit)) header |= kFuReserved;
    if (Has(Quirk::kFuAMissingEnd)) header &= static_cast<uint8_t>(~kFuEnd);
    p.payload[1] = static_cast<char>(header);
    if ((header & kFuStart) && Has(Quirk::kFuAEmptyFragments)) {
      framed->push_back(p);
      Packet empty = p;
      empty.marker = false;
      empty.payload.resize(2);
      empty.payload[1] = static_cast<char>(header & ~(kFuStart | kFuEnd));
      p = std::move(empty);
    }
  }
  if (Has(Quirk::kNoMarker)) p.marker = false;
  framed->push_back(std::move(p));
}

uint32_t RtpQuirkStream::MapTimestamp(uint32_t ts, bool key) {
  if (Has(Quirk::kSequenceJump) && !jumped_ && !key && pictures_ >= kLater) {
    jumped_ = true;
    next_seq_ = static_cast<uint16_t>(next_seq_ + 5000);
  }
  if (Has(Quirk::kTimestampJump) && pictures_ == kLater) ts_offset_ += kRtpHz * 600;
  if (Has(Quirk::kTimestampJump) && pictures_ == 2 * kLater) ts_offset_ -= kRtpHz * 1200;
  if (Has(Quirk::kEqualTimestamps) && pictures_ % 10 == 0) return last_out_ts_;
  if (Has(Quirk::kTimestampBackstep) && pictures_ % 30 == 0) return last_out_ts_ - kRtpHz / 100;
  return ts + ts_offset_;
}

void RtpQuirkStream::Send(Packet p, Clock::time_point now, std::vector<Out>* out) {
  const uint8_t type = NalType(p.payload);
  if (!started_) {
    started_ = true;
    next_seq_ = p.seq;
    ssrc_ = Has(Quirk::kTransportOdd) ? kShortSsrc : p.ssrc;
    next_report_ = now;
    last_in_ts_ = p.ts - 1;
  }
  if (p.ts != last_in_ts_) {
    ++pictures_;
    const bool key = type == 7 || type == 5 || type == kStapA ||
                     (type == kFuA && p.payload.size() >= 2 && (p.payload[1] & 0x1F) == 5);
    last_in_ts_ = p.ts;
    last_out_ts_ = MapTimestamp(p.ts, key);
  }
  if (Has(Quirk::kSsrcChange) && !restarted_ && pictures_ >= kLater && (type == 7 || type == kStapA)) {
    // An encoder restart at a key frame's parameter sets: new source, sequence and clock.
    restarted_ = true;
    ssrc_ ^= 0x5A5A0F0F;
    next_seq_ = static_cast<uint16_t>(next_seq_ + 20000);
    ts_offset_ += 0x40000000;
    last_out_ts_ += 0x40000000;
  }
  p.seq = next_seq_++;
  p.ts = last_out_ts_ - (IsParameterSet(type) && Has(Quirk::kSetsOwnTimestamp) ? 1 : 0);
  p.ssrc = ssrc_;
  ++sent_;
  octets_ += static_cast<uint32_t>(p.payload.size());
  const Out packet{Serialize(p, false), false};
  if (Has(Quirk::kReorder) && sent_ % 37 == 0 && !held_) {
    held_ = packet;
    held_at_ = now;
  } else {
    out->push_back(packet);
    if (Has(Quirk::kDuplicate) && sent_ % 50 == 0) out->push_back(packet);
    if (held_) out->push_back(std::move(*held_));
    held_.reset();
  }
  if (Has(Quirk::kForeignSsrc) && sent_ % 20 == 0) {
    Packet other = p;
    other.seq = foreign_seq_++;
    other.ts += 12345;
    out->push_back({Serialize(other, true), false});
  }
  if (Has(Quirk::kRtcpOnRtp) && sent_ % 50 == 0) out->push_back({SenderReport(NtpNow()), false});
}

std::string RtpQuirkStream::Serialize(const Packet& p, bool foreign) const {
  const bool csrc = Has(Quirk::kCsrc);
  const bool extension = Has(Quirk::kHeaderExtension);
  const bool padding = Has(Quirk::kPadding);
  std::string b;
  b += static_cast<char>(0x80 | (padding ? 0x20 : 0) | (extension ? 0x10 : 0) | (csrc ? 2 : 0));
  b += static_cast<char>((p.marker ? 0x80 : 0) | p.type);
  Put16(b, p.seq);
  Put32(b, p.ts);
  Put32(b, foreign ? ssrc_ + 0x01010101 : p.ssrc);
  if (csrc) {
    Put32(b, 0x11111111);
    Put32(b, 0x22222222);
  }
  if (extension) {
    Put16(b, 0xBEDE);  // one-byte elements
    Put16(b, 1);
    Put32(b, 0x10AB0000);
  }
  b += p.payload;
  if (padding) {
    const int count = 1 + p.seq % 7;
    b.append(static_cast<size_t>(count - 1), '\0');
    b += static_cast<char>(count);
  }
  return b;
}

std::string RtpQuirkStream::SenderReport(uint64_t ntp) const {
  std::string b;
  b += static_cast<char>(0x80);
  b += static_cast<char>(200);
  Put16(b, 6);
  Put32(b, ssrc_);
  Put32(b, static_cast<uint32_t>((ntp + ntp_step_) >> 32));
  Put32(b, static_cast<uint32_t>(ntp + ntp_step_));
  Put32(b, last_out_ts_);
  Put32(b, sent_);
  Put32(b, octets_);
  return b;
}

void RtpQuirkStream::Rtcp(std::string_view datagram, std::vector<Out>* out) {
  std::string b(datagram);
  // Reports may come before the first packet; transport-odd announced its SSRC already.
  const uint32_t ssrc = started_ ? ssrc_ : Has(Quirk::kTransportOdd) ? kShortSsrc : 0;
  for (size_t at = 0; ssrc != 0 && at + 8 <= b.size();) {
    const auto type = static_cast<uint8_t>(b[at + 1]);
    const size_t length = 4 + 4u * (static_cast<uint8_t>(b[at + 2]) << 8 | static_cast<uint8_t>(b[at + 3]));
    if (at + length > b.size()) break;
    if (type == 200 || type == 202 || type == 203) Set32(b, at + 4, ssrc);
    if (type == 200 && length >= 20) {
      const uint64_t ntp = (static_cast<uint64_t>(Read32(b, at + 8)) << 32 | Read32(b, at + 12)) + ntp_step_;
      Set32(b, at + 8, static_cast<uint32_t>(ntp >> 32));
      Set32(b, at + 12, static_cast<uint32_t>(ntp));
      Set32(b, at + 16, Read32(b, at + 16) + ts_offset_);
    }
    at += length;
  }
  out->push_back({b, true});
}

void RtpQuirkStream::Tick(Clock::time_point now, std::vector<Out>* out) {
  if (held_ && now - held_at_ > std::chrono::milliseconds(30)) {
    out->push_back(std::move(*held_));
    held_.reset();
  }
  if (Has(Quirk::kSrWallclockStep) && started_ && now >= next_report_) {
    next_report_ = now + std::chrono::seconds(1);
    if (pictures_ >= kLater) ntp_step_ = 3600ull << 32;
    out->push_back({SenderReport(NtpNow()), true});
  }
}

}  // namespace strandline::sim
