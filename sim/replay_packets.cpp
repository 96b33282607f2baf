#include "sim/replay_packets.h"

#include <algorithm>
#include <string>

namespace strandline::sim {
namespace {

constexpr uint8_t kIdr = 5;
constexpr uint8_t kSps = 7;
constexpr uint8_t kPps = 8;
constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;
constexpr size_t kFragment = ReplayPackets::kMtu - ReplayPackets::kRtpHeader - 2;

uint8_t TypeOf(std::string_view unit) { return static_cast<uint8_t>(unit[0]) & 0x1F; }

}  // namespace

bool KeptUnit(std::string_view unit) {
  const uint8_t type = TypeOf(unit);
  return type != 0 && type < kStapA;
}

std::vector<std::string_view> SplitAnnexB(std::string_view stream) {
  std::vector<std::string_view> units;
  size_t begin = std::string_view::npos;
  size_t i = 0;
  while (i + 2 < stream.size()) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      if (begin != std::string_view::npos) {
        size_t end = i;
        while (end > begin && stream[end - 1] == 0) --end;  // a four-byte start code's zero, or trailing zeros
        if (end > begin) units.push_back(stream.substr(begin, end - begin));
      }
      i += 3;
      begin = i;
    } else {
      ++i;
    }
  }
  if (begin != std::string_view::npos && begin < stream.size()) units.push_back(stream.substr(begin));
  return units;
}

void ReplayPackets::Emit(std::string_view head, std::string_view body) {
  Packet packet{static_cast<uint32_t>(bytes_.size()), static_cast<uint16_t>(head.size() + body.size()), false};
  bytes_.insert(bytes_.end(), head.begin(), head.end());
  bytes_.insert(bytes_.end(), body.begin(), body.end());
  packets_.push_back(packet);
}

void ReplayPackets::AddUnit(std::string_view unit) {
  if (kRtpHeader + unit.size() > kMtu) {
    const auto header = static_cast<uint8_t>(unit[0]);
    std::string_view rest = unit.substr(1);
    for (bool first = true; !rest.empty(); first = false) {
      const size_t take = std::min(rest.size(), kFragment);
      const char fu[2] = {static_cast<char>((header & 0xE0) | kFuA),
                          static_cast<char>((first ? 0x80 : 0) | (take == rest.size() ? 0x40 : 0) | (header & 0x1F))};
      Emit(std::string_view(fu, 2), rest.substr(0, take));
      rest.remove_prefix(take);
    }
    return;
  }
  Emit({}, unit);
}

std::shared_ptr<const ReplayPackets> ReplayPackets::FromAccessUnits(const std::vector<std::string_view>& units,
                                                                    double fps) {
  std::shared_ptr<ReplayPackets> packets(new ReplayPackets);
  packets->fps_ = fps > 0 ? fps : 25.0;
  std::string sps;
  std::string pps;
  bool key_seen = false;
  for (std::string_view unit : units) {
    std::vector<std::string_view> nals = SplitAnnexB(unit);
    // Types 0 and 24 to 31 are no byte stream's units: sent alone they would read as aggregates or fragments.
    std::erase_if(nals, [](std::string_view nal) { return !KeptUnit(nal); });
    if (nals.empty()) continue;
    bool key = false;
    bool has_sets = false;
    for (std::string_view nal : nals) {
      const uint8_t type = TypeOf(nal);
      key = key || type == kIdr;
      has_sets = has_sets || type == kSps;
      if (type == kSps) sps.assign(nal);
      if (type == kPps) pps.assign(nal);
    }
    Frame frame{static_cast<uint32_t>(packets->packets_.size()), 0, key};
    bool sets_due = key && !has_sets && !sps.empty() && !pps.empty();
    for (std::string_view nal : nals) {
      if (sets_due && TypeOf(nal) == kIdr) {
        packets->AddUnit(sps);
        packets->AddUnit(pps);
        sets_due = false;
      }
      packets->AddUnit(nal);
    }
    frame.packet_count = static_cast<uint32_t>(packets->packets_.size()) - frame.first_packet;
    packets->packets_.back().marker = true;
    if (key && !key_seen) packets->first_key_ = packets->frames_.size();
    key_seen = key_seen || key;
    packets->frames_.push_back(frame);
  }
  if (packets->frames_.empty()) return nullptr;
  return packets;
}

}  // namespace strandline::sim
