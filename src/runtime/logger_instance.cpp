#include "runtime/logger_instance.h"

#include <cstdarg>

#include "runtime/format.h"

namespace orbisan {

bool CLoggerInstance::Passes(uint32_t c) {
  if (c < 15) return true;
  if (c < 255) return c % 16 == 0;
  if (c < 4095) return c % 256 == 0;
  if (c < 65535) return c % 4096 == 0;
  return false;
}

void CLoggerInstance::LogMessage(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  if (text.empty()) return;
  CAutoLock guard(lock_);
  if (text == lastMessage_) return;
  ++passCounter_;
  if (passCounter_ == 65535) {
    passCounter_ = 4095;
    return;
  }
  if (!Passes(passCounter_)) return;
  lastMessage_ = text;
  if (owner_ != nullptr) owner_->DebugMessage(level, "%s", text.c_str());
}

void CLoggerInstance::ResetLog() {
  CAutoLock guard(lock_);
  lastMessage_.clear();
  passCounter_ = 0;
}

}  // namespace orbisan
