// Rewrites one RTP stream (and its RTCP) of the simulated camera the way a
// quirky camera sends it: framing, sequence, sources and clocks. The same
// rewriting serves RTP over UDP and interleaved in the RTSP connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/camera_quirks.h"

namespace strandline::sim {

class RtpQuirkStream {
 public:
  using Clock = std::chrono::steady_clock;
  // One datagram to send; rtcp: on the RTCP port or channel.
  struct Out {
    std::string bytes;
    bool rtcp = false;
  };
  // The SSRC the session announces with transport-odd (short in hexadecimal).
  static constexpr uint32_t kShortSsrc = 0x1A2B;

  explicit RtpQuirkStream(const QuirkSet& quirks) : quirks_(quirks) {}

  // An RTP packet from the encoder; what to send now goes to out.
  void Rtp(std::string_view datagram, Clock::time_point now, std::vector<Out>* out);
  // An RTCP packet from the encoder's session.
  void Rtcp(std::string_view datagram, std::vector<Out>* out);
  // Sends what waited long enough, and the reports made here.
  void Tick(Clock::time_point now, std::vector<Out>* out);

 private:
  struct Packet {
    bool marker = false;
    uint8_t type = 0;
    uint16_t seq = 0;
    uint32_t ts = 0;
    uint32_t ssrc = 0;
    std::string payload;
  };
  static std::optional<Packet> Parse(std::string_view datagram);
  void Frame(Packet packet, std::vector<Packet>* framed);
  void Send(Packet packet, Clock::time_point now, std::vector<Out>* out);
  std::string Serialize(const Packet& packet, bool foreign) const;
  std::string SenderReport(uint64_t ntp) const;
  uint32_t MapTimestamp(uint32_t ts, bool key);
  bool Has(Quirk quirk) const { return quirks_.Has(quirk); }

  const QuirkSet quirks_;
  bool started_ = false;
  uint16_t next_seq_ = 0;
  uint16_t last_in_seq_ = 0;  // the encoder's own numbering, for its gaps
  uint32_t ssrc_ = 0;
  uint32_t ts_offset_ = 0;
  uint32_t last_in_ts_ = 0;
  uint32_t last_out_ts_ = 0;
  uint32_t pictures_ = 0;
  uint32_t sent_ = 0;
  uint32_t octets_ = 0;
  bool restarted_ = false;
  bool jumped_ = false;
  std::optional<Packet> held_sets_;  // SPS waiting for its PPS
  std::optional<Packet> fragments_;  // large-datagrams: the NAL unit gathered so far
  std::optional<Out> held_;          // reorder: the packet that goes after the next
  Clock::time_point held_at_;
  uint16_t foreign_seq_ = 7000;
  Clock::time_point next_report_;
  uint64_t ntp_step_ = 0;
};

}  // namespace strandline::sim
