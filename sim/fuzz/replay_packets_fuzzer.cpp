// libFuzzer target for the replay mode's packetizing of a clip: the input is
// cut at two-byte lengths into access units. The packets must fit the MTU,
// end each frame with a marker, and carry back exactly the frame's NAL units
// (invalid types left out, parameter sets put before the slices of a key
// frame without them).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/replay_packets.h"

namespace {

using strandline::sim::ReplayPackets;

// The NAL units a frame's packets carry, as a receiver puts them together.
std::vector<std::string> Reassemble(const ReplayPackets& packets, const ReplayPackets::Frame& frame) {
  std::vector<std::string> units;
  for (uint32_t i = 0; i < frame.packet_count; ++i) {
    const ReplayPackets::Packet& packet = packets.packet(frame.first_packet + i);
    const std::string_view payload = packets.Payload(packet);
    if (payload.size() + ReplayPackets::kRtpHeader > ReplayPackets::kMtu || payload.size() < 1) __builtin_trap();
    if (packet.marker != (i + 1 == frame.packet_count)) __builtin_trap();
    const uint8_t type = static_cast<uint8_t>(payload[0]) & 0x1F;
    if (type == 24) {
      __builtin_trap();  // nothing is aggregated
    } else if (type == 28) {
      if (payload.size() < 3) __builtin_trap();
      const auto header = static_cast<uint8_t>(payload[1]);
      if (header & 0x80) {
        units.emplace_back(1, static_cast<char>((payload[0] & 0xE0) | (header & 0x1F)));
      } else if (units.empty()) {
        __builtin_trap();
      }
      units.back().append(payload.substr(2));
    } else {
      units.emplace_back(payload);
    }
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> access_units;
  for (size_t at = 0; at + 2 <= input.size();) {
    const size_t length = static_cast<uint8_t>(input[at]) << 8 | static_cast<uint8_t>(input[at + 1]);
    access_units.push_back(input.substr(at + 2, length));
    at += 2 + length;
  }
  auto packets = ReplayPackets::FromAccessUnits(access_units, 25.0);
  if (!packets) return 0;
  size_t unit = 0;
  for (const ReplayPackets::Frame& frame : packets->frames()) {
    std::vector<std::string_view> expected;
    for (; expected.empty() && unit < access_units.size(); ++unit) {
      for (std::string_view nal : strandline::sim::SplitAnnexB(access_units[unit])) {
        if (strandline::sim::KeptUnit(nal)) expected.push_back(nal);
      }
    }
    std::vector<std::string> got = Reassemble(*packets, frame);
    // Parameter sets put in before the key frame's first slice are the only additions.
    if (got.size() == expected.size() + 2) {
      size_t idr = 0;
      while (idr < got.size() && (static_cast<uint8_t>(got[idr][0]) & 0x1F) != 5) ++idr;
      if (idr < 2 || idr == got.size() || (got[idr - 2][0] & 0x1F) != 7 || (got[idr - 1][0] & 0x1F) != 8) {
        __builtin_trap();
      }
      got.erase(got.begin() + static_cast<std::ptrdiff_t>(idr) - 2, got.begin() + static_cast<std::ptrdiff_t>(idr));
    }
    if (got.size() != expected.size()) __builtin_trap();
    for (size_t i = 0; i < expected.size(); ++i) {
      if (got[i] != expected[i]) __builtin_trap();
    }
  }
  if (packets->first_key() >= packets->frames().size()) __builtin_trap();
  return 0;
}
