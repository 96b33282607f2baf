#include "runtime/result_def.h"

#include <cstdarg>

#include "runtime/format.h"

namespace orbisan {

void CResultDef::SetResultEx(uint32_t category, uint32_t code, const char* format, ...) {
  category_ = category;
  code_ = code;
  message_.clear();
  if (format == nullptr) return;
  try {
    va_list args;
    va_start(args, format);
    message_ = FormatV(format, args);
    va_end(args);
  } catch (...) {
    message_ = "orbisan::CResultDef::SetResultEx: Unexpected exception during string formatting.";
  }
}

}  // namespace orbisan
