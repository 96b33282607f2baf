#pragma once
// Handcrafted MPEG-4 Visual headers and pictures for the depacketizer and the
// vendor-library channel tests.
#include <cstdint>
#include <vector>

#include "depacketizers/bit_writer.h"

namespace orbisan::test {

struct VolFields {
  uint32_t width = 176;
  uint32_t height = 144;
  uint32_t shape = 0;
  bool layerIdentifier = false;
  bool extendedPar = false;
  bool vbv = false;
  bool fixedRate = false;
};

// Visual object sequence, visual object and video object layer headers.
inline std::vector<uint8_t> MakeConfig(const VolFields& f) {
  BitWriter w;
  w.Bit(0).Bits(1, 8).Bit(f.layerIdentifier);
  if (f.layerIdentifier) w.Bits(2, 4).Bits(1, 3);
  w.Bits(f.extendedPar ? 0xF : 1, 4);
  if (f.extendedPar) w.Bits(12, 8).Bits(11, 8);
  w.Bit(f.vbv);
  if (f.vbv) {
    w.Bits(1, 2).Bit(1).Bit(1);
    w.Bits(0x1234, 15).Bit(1).Bits(0x2345, 15).Bit(1).Bits(0x3456, 15).Bit(1).Bits(5, 3);
    w.Bits(0x2AA, 11).Bit(1).Bits(0x1555, 15).Bit(1);
  }
  w.Bits(f.shape, 2).Bit(1).Bits(25, 16).Bit(1).Bit(f.fixedRate);
  if (f.fixedRate) w.Bits(1, 5);
  w.Bit(1).Bits(f.width, 13).Bit(1).Bits(f.height, 13).Bit(1).Bit(0).Bit(1);
  std::vector<uint8_t> out = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0x00, 0, 0, 1, 0x20};
  const std::vector<uint8_t> vol = w.Finish();
  out.insert(out.end(), vol.begin(), vol.end());
  return out;
}

inline const std::vector<uint8_t> kIVop = {0, 0, 1, 0xB6, 0x10, 0x60, 0x91, 0x82};
inline const std::vector<uint8_t> kPVop = {0, 0, 1, 0xB6, 0x50, 0x88, 0x8E, 0x10};

}  // namespace orbisan::test
