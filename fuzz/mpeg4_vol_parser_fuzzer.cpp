// Arbitrary bytes as an MPEG-4 Visual configuration and picture.
#include <cstddef>
#include <cstdint>

#include "rtsp/mpeg4_vol_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t width = 0, height = 0;
  if (orbisan::ParseMpegHeader(data, static_cast<uint32_t>(size), &width, &height) >= 1 &&
      (width == 0 || height == 0 || width > 8191 || height > 8191))
    __builtin_trap();
  return 0;
}
