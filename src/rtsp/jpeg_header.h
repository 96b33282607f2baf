#pragma once

#include <cstddef>
#include <cstdint>

namespace orbisan {

// The JFIF headers an RTP/JPEG picture (RFC 2435) leaves out: quantization
// tables from the Q factor, the standard Huffman tables, frame and scan
// headers for the three components of a baseline picture.
class CJpegHeader {
 public:
  // Most a rebuilt header can take (the host sample is this much larger
  // than the received data).
  static constexpr size_t kMaxSize = 1024;

  struct Params {
    uint8_t type = 0;                 // RTP/JPEG type; its low bit selects 4:2:0 (1) or 4:2:2 (0)
    uint16_t width = 0;               // pixels
    uint16_t height = 0;              // pixels
    uint16_t restartInterval = 0;     // MCUs; 0 writes no DRI segment
    const uint8_t* tables = nullptr;  // 64 (one table) or 128 bytes (two), zigzag order
    size_t tableSize = 0;
  };

  // Luminance then chrominance table for a Q factor below 128 (RFC 2435
  // appendix A); out receives 128 bytes.
  static void MakeTables(int q, uint8_t* out);
  // Bytes the header of these parameters takes.
  static size_t Size(const Params& params);
  // Writes SOI to SOS into out; returns the size, or 0 when it does not fit
  // or the tables are not one or two 8-bit tables.
  static size_t Write(const Params& params, uint8_t* out, size_t capacity);
};

}  // namespace orbisan
