#pragma once

#include <cstdint>
#include <string>

#include "strandline/debug_output.h"

namespace orbisan {

// A log record built for one call of the host's sink.
class CDebugInfo : public CDebugInfoIf {
 public:
  CDebugInfo(uint8_t level, const std::string& text) : level_(level), text_(text) {}
  uint8_t GetLevel() override { return level_; }
  const char* GetText() override { return text_.empty() ? nullptr : text_.c_str(); }

 private:
  uint8_t level_;
  std::string text_;
};

}  // namespace orbisan
