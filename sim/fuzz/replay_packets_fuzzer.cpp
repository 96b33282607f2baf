// libFuzzer target for the replay mode's packetizing of a clip: the input is
// cut at two-byte lengths into access units. The packets must fit the MTU,
// end each frame with a marker, and carry back exactly the frame's NAL units
// (delimiters and invalid types left out, parameter sets put before a key frame without them).
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
      for (size_t at = 1; at < payload.size();) {
        if (at + 2 > payload.size()) __builtin_trap();
        const size_t length = static_cast<uint8_t>(payload[at]) << 8 | static_cast<uint8_t>(payload[at + 1]);
        if (length == 0 || at + 2 + length > payload.size()) __builtin_trap();
        units.emplace_back(payload.substr(at + 2, length));
        at += 2 + length;
      }
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
    const std::vector<std::string> got = Reassemble(*packets, frame);
    // Parameter sets put in front are the only additions.
    if (got.size() != expected.size() && got.size() != expected.size() + 2) __builtin_trap();
    const size_t added = got.size() - expected.size();
    for (size_t i = 0; i < expected.size(); ++i) {
      if (got[added + i] != expected[i]) __builtin_trap();
    }
  }
  if (packets->first_key() >= packets->frames().size()) __builtin_trap();
  return 0;
}
