#pragma once

// What the test process itself uses, read from /proc.

#include <fstream>
#include <string>

namespace orbisan::test {

// Resident memory in KiB (0 when it cannot be read).
inline long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

}  // namespace orbisan::test
