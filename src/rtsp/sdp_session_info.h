#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orbisan {

// One media section of a session description; empty values mean "not given".
struct SDP_MEDIA_INFO {
  uint16_t port = 0;
  std::string transportProtocol;
  std::string connectionAddress;
  std::string control;
  std::string encoding;  // "H264/90000"
  bool present = false;  // the description has a section of this kind
};

struct SDP_SESSION_INFO {
  SDP_MEDIA_INFO video;
  SDP_MEDIA_INFO audio;
  SDP_MEDIA_INFO metadata;
  std::vector<uint8_t> sps;  // without start code
  std::vector<uint8_t> pps;
  std::vector<uint8_t> config;  // MPEG-4 decoder configuration
  uint32_t width = 0;
  uint32_t height = 0;
};

}  // namespace orbisan
