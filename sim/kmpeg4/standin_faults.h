// Faults of the stand-in vendor library, read once from the environment of
// the process that loads it:
//   STRANDLINE_KMPEG4_REFUSE=1           KConnect fails
//   STRANDLINE_KMPEG4_STALL_AFTER_MS=N   the first stream's callbacks stop
//                                        after N ms (the connection stays up)
//   STRANDLINE_KMPEG4_BLOCK=NAME:MS      every call of function NAME sleeps
//                                        MS before it does its work
#pragma once

#include <cstdint>
#include <string>

namespace strandline::standin {

struct Faults {
  bool refuseConnect = false;
  uint32_t stallAfterMs = 0;  // 0 = never
  std::string blockFunction;
  uint32_t blockMs = 0;
};

const Faults& CurrentFaults();
// Sleeps when the named function is the one set to block.
void MaybeBlock(const char* function);

}  // namespace strandline::standin
