#include "rtsp/resolution_class.h"

namespace orbisan {

uint32_t ResolutionClass(uint32_t width, uint32_t height) {
  if (width < 200) return 1;
  if (width < 400) return 2;
  if (width < 1024 && width > 2 * height) return 3;
  return 4;
}

}  // namespace orbisan
