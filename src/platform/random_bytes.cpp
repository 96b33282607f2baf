#include "platform/random_bytes.h"

#include <cstring>
#include <random>

namespace orbisan {

bool RandomBytes16(uint8_t out[16]) {
  std::memset(out, 0, 16);
  try {
    std::random_device device;
    for (int i = 0; i < 16; i += 4) {
      const uint32_t value = device();
      std::memcpy(out + i, &value, 4);
    }
  } catch (...) {
    std::memset(out, 0, 16);
    return false;
  }
  return true;
}

}  // namespace orbisan
