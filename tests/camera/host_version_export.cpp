// The test program stands in for the host process: it exports the function
// through which the driver reads the host core version.
#include <array>
#include <cstdint>

#include "camera/host_version.h"

namespace orbisan::test {
std::array<uint16_t, 4> hostVersion = {5, 12, 0, 0};
bool hostVersionKnown = false;
}  // namespace orbisan::test

extern "C" __attribute__((visibility("default"))) int basalt_product_version(uint16_t out[4]) {
  if (!orbisan::test::hostVersionKnown) return 0;
  for (int i = 0; i < 4; ++i) out[i] = orbisan::test::hostVersion[i];
  return 1;
}
