#include "rtsp/h264_sps_parser.h"

#include "rtsp/rtp_media_parser_bit_reader.h"

namespace orbisan {
namespace {

// Profiles whose sequence parameter sets carry the chroma format, bit depths
// and scaling matrices.
bool HasChromaInfo(uint32_t profile) {
  switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
      return true;
    default:
      return false;
  }
}

void SkipScalingList(CBitReader& reader, int size) {
  int32_t last = 8;
  int32_t next = 8;
  for (int i = 0; i < size && !reader.Overrun(); ++i) {
    if (next != 0) {
      const int64_t delta = reader.ReadSE();
      next = static_cast<int32_t>(((last + delta) % 256 + 256) % 256);
    }
    if (next != 0) last = next;
  }
}

}  // namespace

bool CH264SpsParser::Parse(const uint8_t* nal, size_t size, uint32_t& width, uint32_t& height) {
  if (!nal || size < 2 || (nal[0] & 0x1F) != 7) return false;

  // NAL payload without the emulation prevention bytes (00 00 03).
  rbsp_.clear();
  rbsp_.reserve(size);
  int zeros = 0;
  for (size_t i = 1; i < size; ++i) {
    const uint8_t byte = nal[i];
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    zeros = byte == 0 ? zeros + 1 : 0;
    rbsp_.push_back(byte);
  }

  CBitReader reader(rbsp_.data(), rbsp_.size());
  const uint32_t profile = reader.ReadBits(8);
  reader.SkipBits(8);  // constraint flags and reserved bits
  reader.SkipBits(8);  // level_idc
  reader.ReadUE();     // seq_parameter_set_id

  uint32_t chromaFormat = 1;
  bool separateColourPlanes = false;
  if (HasChromaInfo(profile)) {
    chromaFormat = reader.ReadUE();
    if (chromaFormat > 3) return false;
    if (chromaFormat == 3) separateColourPlanes = reader.ReadFlag();
    reader.ReadUE();          // bit_depth_luma_minus8
    reader.ReadUE();          // bit_depth_chroma_minus8
    reader.ReadFlag();        // qpprime_y_zero_transform_bypass_flag
    if (reader.ReadFlag()) {  // seq_scaling_matrix_present_flag
      const int lists = chromaFormat != 3 ? 8 : 12;
      for (int i = 0; i < lists && !reader.Overrun(); ++i) {
        if (reader.ReadFlag()) SkipScalingList(reader, i < 6 ? 16 : 64);
      }
    }
  }
  reader.ReadUE();  // log2_max_frame_num_minus4
  const uint32_t pocType = reader.ReadUE();
  if (pocType == 0) {
    reader.ReadUE();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (pocType == 1) {
    reader.ReadFlag();  // delta_pic_order_always_zero_flag
    reader.ReadSE();    // offset_for_non_ref_pic
    reader.ReadSE();    // offset_for_top_to_bottom_field
    const uint32_t cycle = reader.ReadUE();
    for (uint32_t i = 0; i < cycle && !reader.Overrun(); ++i) reader.ReadSE();
  }
  reader.ReadUE();    // max_num_ref_frames
  reader.ReadFlag();  // gaps_in_frame_num_value_allowed_flag
  const uint64_t widthInMbs = uint64_t{reader.ReadUE()} + 1;
  const uint64_t heightInMapUnits = uint64_t{reader.ReadUE()} + 1;
  const bool frameMbsOnly = reader.ReadFlag();
  if (!frameMbsOnly) reader.ReadFlag();  // mb_adaptive_frame_field_flag
  reader.ReadFlag();                     // direct_8x8_inference_flag
  uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (reader.ReadFlag()) {
    cropLeft = reader.ReadUE();
    cropRight = reader.ReadUE();
    cropTop = reader.ReadUE();
    cropBottom = reader.ReadUE();
  }
  if (reader.Overrun()) return false;

  // Crop offsets count in chroma samples (two luma samples for 4:2:0 and the
  // width of 4:2:2), and in field lines for interlaced pictures.
  const uint32_t chromaArrayType = separateColourPlanes ? 0 : chromaFormat;
  const uint64_t cropUnitX = (chromaArrayType == 1 || chromaArrayType == 2) ? 2 : 1;
  const uint64_t cropUnitY = (chromaArrayType == 1 ? 2 : 1) * (frameMbsOnly ? 1 : 2);
  const uint64_t fullWidth = widthInMbs * 16;
  const uint64_t fullHeight = (frameMbsOnly ? 1 : 2) * heightInMapUnits * 16;
  const uint64_t cropX = cropUnitX * (cropLeft + cropRight);
  const uint64_t cropY = cropUnitY * (cropTop + cropBottom);
  if (cropX >= fullWidth || cropY >= fullHeight) return false;
  const uint64_t w = fullWidth - cropX;
  const uint64_t h = fullHeight - cropY;
  if (w > UINT32_MAX || h > UINT32_MAX) return false;
  width = static_cast<uint32_t>(w);
  height = static_cast<uint32_t>(h);
  return true;
}

}  // namespace orbisan
