// Any answer to any request kind (the first byte picks the kind) must parse
// or fail cleanly, the description path included.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtsp/rtsp_response_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t kind = data[0] % 7;
  orbisan::CRTSPResponseParser parser;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  parser.Parse(text, kind);
  // A second answer on the same parser, as in a session.
  parser.NextCSeq();
  parser.Parse(text, orbisan::kRtspSetup);
  return 0;
}
