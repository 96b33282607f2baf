// Arbitrary bytes as an MPEG-4 Visual configuration and picture, and as a
// block the streaming library hands over.
#include <cstddef>
#include <cstdint>

#include "channels/mpeg4_block_assembler.h"
#include "rtsp/mpeg4_vol_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t width = 0, height = 0;
  if (orbisan::ParseMpegHeader(data, static_cast<uint32_t>(size), &width, &height) >= 1 &&
      (width == 0 || height == 0 || width > 8191 || height > 8191))
    __builtin_trap();
  orbisan::CMpeg4BlockAssembler assembler;
  // A frame is never longer than the block with the header in front.
  if (assembler.Feed(data, static_cast<uint32_t>(size)) &&
      (assembler.Frame().empty() || assembler.Frame().size() > size + assembler.ConfigHeader().size()))
    __builtin_trap();
  return 0;
}
