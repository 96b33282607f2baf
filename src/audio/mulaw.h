#pragma once

#include <cstddef>
#include <cstdint>

namespace orbisan {

// G.711 mu-law byte to a 16-bit linear sample (magnitudes 0 to 8031).
int16_t MuLawToLinear(uint8_t code);
// Expands count bytes into 2 * count bytes of little-endian samples.
void ExpandMuLaw(const uint8_t* codes, size_t count, uint8_t* samples);

}  // namespace orbisan
