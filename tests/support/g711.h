#pragma once
// G.711 mu-law decoding as the standard's tables give it (16-bit scale),
// written apart from the driver's expansion so that each checks the other.
#include <cstdint>

namespace orbisan::test {

// Segment e, step 2^(e+3) from a base of 132 << e, minus the bias of 132.
inline int StandardMuLaw(uint8_t code) {
  const int inverted = 0xFF - code;
  const int segment = (inverted >> 4) & 7;
  const int step = inverted & 0x0F;
  const int magnitude = ((step << 3) + 0x84) * (1 << segment) - 0x84;
  return inverted >= 0x80 ? -magnitude : magnitude;
}

}  // namespace orbisan::test
