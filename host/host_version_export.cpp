// The host core module's product version, as the driver reads it through the
// dynamic loader. Set from --host-version; without it the version "cannot be
// read" and the driver assumes its default.
#include <cstdint>

namespace strandline::host {
bool g_hostVersionSet = false;
uint16_t g_hostVersion[4] = {0, 0, 0, 0};
}  // namespace strandline::host

extern "C" __attribute__((visibility("default"))) int basalt_product_version(uint16_t out[4]) {
  if (!strandline::host::g_hostVersionSet || out == nullptr) return 0;
  for (int i = 0; i < 4; ++i) out[i] = strandline::host::g_hostVersion[i];
  return 1;
}
