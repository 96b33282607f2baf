// Arbitrary bytes as an H.264 sequence parameter set NAL unit.
#include <cstddef>
#include <cstdint>

#include "rtsp/h264_sps_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::CH264SpsParser parser;
  uint32_t width = 0, height = 0;
  if (parser.Parse(data, size, width, height) && (width == 0 || height == 0)) __builtin_trap();
  return 0;
}
