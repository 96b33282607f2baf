#include "sim/kmpeg4/standin_faults.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace strandline::standin {

namespace {

Faults Read() {
  Faults faults;
  if (const char* refuse = std::getenv("STRANDLINE_KMPEG4_REFUSE")) faults.refuseConnect = std::atoi(refuse) != 0;
  if (const char* stall = std::getenv("STRANDLINE_KMPEG4_STALL_AFTER_MS")) {
    faults.stallAfterMs = static_cast<uint32_t>(std::strtoul(stall, nullptr, 10));
  }
  if (const char* block = std::getenv("STRANDLINE_KMPEG4_BLOCK")) {
    const std::string text = block;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
      faults.blockFunction = text.substr(0, colon);
      faults.blockMs = static_cast<uint32_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 10));
    }
  }
  return faults;
}

}  // namespace

const Faults& CurrentFaults() {
  static const Faults faults = Read();
  return faults;
}

void MaybeBlock(const char* function) {
  const Faults& faults = CurrentFaults();
  if (faults.blockMs != 0 && faults.blockFunction == function) {
    std::this_thread::sleep_for(std::chrono::milliseconds(faults.blockMs));
  }
}

}  // namespace strandline::standin
