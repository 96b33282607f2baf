#pragma once

// The host core version that the camera test program reports through the
// dynamic loader (see host_version_export.cpp).

#include <array>
#include <cstdint>

namespace orbisan::test {

// Version reported by basalt_product_version; none when hostVersionKnown is false.
extern std::array<uint16_t, 4> hostVersion;
extern bool hostVersionKnown;

}  // namespace orbisan::test
