#pragma once

#include <cstddef>
#include <cstdint>

namespace orbisan {

// Expands count G.711 mu-law bytes into 2 * count bytes of little-endian
// 16-bit linear samples (magnitudes 0 to 8031).
void ExpandMuLaw(const uint8_t* codes, size_t count, uint8_t* samples);

}  // namespace orbisan
