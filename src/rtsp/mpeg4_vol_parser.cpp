#include "rtsp/mpeg4_vol_parser.h"

#include "rtsp/rtp_media_parser_bit_reader.h"

namespace orbisan {
namespace {

constexpr uint8_t kVopStartCode = 0xB6;
constexpr uint8_t kShapeRectangular = 0;
constexpr uint8_t kShapeGrayscale = 3;
constexpr uint8_t kExtendedPar = 0x0F;

bool ParseVol(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height) {
  CBitReader reader(data, size);
  reader.ReadFlag();   // random_accessible_vol
  reader.ReadBits(8);  // video_object_type_indication
  uint32_t verid = 1;
  if (reader.ReadFlag()) {  // is_object_layer_identifier
    verid = reader.ReadBits(4);
    reader.ReadBits(3);  // video_object_layer_priority
  }
  if (reader.ReadBits(4) == kExtendedPar) reader.SkipBits(16);  // par_width, par_height
  if (reader.ReadFlag()) {                                      // vol_control_parameters
    reader.ReadBits(2);                                         // chroma_format
    reader.ReadFlag();                                          // low_delay
    if (reader.ReadFlag()) reader.SkipBits(79);                 // vbv_parameters with their markers
  }
  const uint32_t shape = reader.ReadBits(2);
  if (shape == kShapeGrayscale && verid != 1) reader.ReadBits(4);  // video_object_layer_shape_extension
  reader.ReadFlag();                                               // marker
  const uint32_t resolution = reader.ReadBits(16);                 // vop_time_increment_resolution
  reader.ReadFlag();                                               // marker
  if (reader.ReadFlag()) {                                         // fixed_vop_rate
    unsigned bits = 1;
    while (bits < 16 && (resolution - 1) >> bits) ++bits;
    reader.SkipBits(bits);  // fixed_vop_time_increment
  }
  // Other shapes (binary, grayscale) carry no picture size in the header.
  if (shape != kShapeRectangular) return false;
  reader.ReadFlag();  // marker
  const uint32_t w = reader.ReadBits(13);
  reader.ReadFlag();  // marker
  const uint32_t h = reader.ReadBits(13);
  if (reader.Overrun() || w == 0 || h == 0) return false;
  width = w;
  height = h;
  return true;
}

}  // namespace

bool CMpeg4VolParser::Parse(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height) {
  if (!data) return false;
  for (size_t i = 0; i + 3 < size; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    const uint8_t code = data[i + 3];
    if (code == kVopStartCode) return false;  // picture data before any VOL
    if (code >= 0x20 && code <= 0x2F) return ParseVol(data + i + 4, size - i - 4, width, height);
  }
  return false;
}

int ParseMpegHeader(const uint8_t* data, uint32_t size, uint32_t* width, uint32_t* height) {
  uint32_t w = 0, h = 0;
  if (!width || !height || !CMpeg4VolParser::Parse(data, size, w, h)) return 0;
  *width = w;
  *height = h;
  return 1;
}

}  // namespace orbisan
