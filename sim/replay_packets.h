// A clip cut into RTP payloads once, for sending the same packets to many
// sessions: H.264 access units cut as the H.264 payloader cuts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace strandline::sim {

class ReplayPackets {
 public:
  struct Packet {
    uint32_t offset;  // into the payload bytes
    uint16_t size;
    bool marker;  // last packet of its frame
  };
  struct Frame {
    uint32_t first_packet;
    uint32_t packet_count;
    bool key;
  };

  // Every packet, RTP header included, fits in kMtu bytes.
  static constexpr size_t kMtu = 1400;
  static constexpr size_t kRtpHeader = 12;

  // Annex B access units, one per frame. Each NAL unit goes alone in a
  // packet when it fits, else in fragments (FU-A), as GStreamer's payloader
  // sends them; parameter sets go before the slices of a key frame that
  // lacks them, unit types no byte stream has are left out. Frames without a
  // NAL unit are skipped.
  static std::shared_ptr<const ReplayPackets> FromAccessUnits(const std::vector<std::string_view>& units, double fps);

  double fps() const { return fps_; }
  const std::vector<Frame>& frames() const { return frames_; }
  const Packet& packet(size_t index) const { return packets_[index]; }
  std::string_view Payload(const Packet& packet) const {
    return std::string_view(bytes_.data() + packet.offset, packet.size);
  }
  // The first key frame, where every session starts (0 when there is none).
  size_t first_key() const { return first_key_; }
  size_t packet_count() const { return packets_.size(); }

 private:
  void AddUnit(std::string_view unit);
  void Emit(std::string_view head, std::string_view body);

  double fps_ = 25.0;
  std::vector<char> bytes_;
  std::vector<Packet> packets_;
  std::vector<Frame> frames_;
  size_t first_key_ = 0;
};

// Whether the packets carry this NAL unit (not types no byte stream has).
bool KeptUnit(std::string_view unit);

// The NAL units of an Annex B byte stream, start codes removed.
std::vector<std::string_view> SplitAnnexB(std::string_view stream);

}  // namespace strandline::sim
