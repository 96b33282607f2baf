// Any text must parse or fail cleanly; decoded parameter sets stay bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rtsp/base64.h"
#include "rtsp/sdp_response_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::CSDPResponseParser parser;
  parser.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  const orbisan::SDP_SESSION_INFO& info = parser.GetSessionInfo();
  if (info.sps.size() > orbisan::kMaxBase64Decoded || info.pps.size() > orbisan::kMaxBase64Decoded) std::abort();
  if (info.video.control.size() > size || info.video.encoding.size() > size) std::abort();
  return 0;
}
