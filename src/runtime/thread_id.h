#pragma once

#include <cstdint>

namespace orbisan {

// The operating system's id of the calling thread (never 0).
uint32_t CurrentThreadId();

// Number of processors, asked of the system once per process.
unsigned ProcessorCount();

}  // namespace orbisan
