#pragma once

#include <cstdint>

namespace orbisan {

// The host's coarse size class of a frame, 1 to 4, from the picture size.
uint32_t ResolutionClass(uint32_t width, uint32_t height);

}  // namespace orbisan
