#pragma once

#include <cstdint>

namespace orbisan {

// Fills out[0..16) with bytes from the system's random source. False when
// the source is unavailable (out is then all zero).
bool RandomBytes16(uint8_t out[16]);

}  // namespace orbisan
