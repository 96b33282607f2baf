#pragma once

#include <cstddef>
#include <cstdint>

namespace orbisan {

// Picture size from the video object layer header of an MPEG-4 Visual
// stream (ISO/IEC 14496-2 6.2.3). Shared by the RTP depacketizer and the
// vendor-library channel.
class CMpeg4VolParser {
 public:
  // data: configuration and possibly the following VOP; the first VOL header
  // before the first VOP is read. True when it gave a rectangular picture of
  // non-zero size.
  static bool Parse(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height);
};

// The header parser in the calling convention the channels use: 1 when width
// and height were written, 0 otherwise.
int ParseMpegHeader(const uint8_t* data, uint32_t size, uint32_t* width, uint32_t* height);

}  // namespace orbisan
