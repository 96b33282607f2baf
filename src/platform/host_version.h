#pragma once

#include <array>
#include <cstdint>

namespace orbisan {

// Product version of the host core module: major, minor, build, revision.
using HostVersion = std::array<uint16_t, 4>;

// Asks the host process (or libbasalt.so) through the dynamic loader for the
// C function "basalt_product_version". 5.12.0.0 when it cannot be read.
HostVersion ReadHostVersion();

}  // namespace orbisan
