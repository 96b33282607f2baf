#include "host/host_setup.h"

#include <cstdio>

namespace strandline::host {

void StderrLog::Output(orbisan::CDebugInfoIf* info) {
  if (info == nullptr) return;
  const int level = info->GetLevel();
  // Level 100 (driver opened) counts as information.
  const int rank = level >= 100 ? 3 : level;
  if (rank > maxLevel_) return;
  const char* text = info->GetText();
  std::lock_guard<std::mutex> lock(mutex_);
  if (beforeLine_ != nullptr) beforeLine_();
  std::fprintf(stderr, "[level %d] %s\n", level, text != nullptr ? text : "");
  std::fflush(stderr);
}

}  // namespace strandline::host
