#pragma once

#include <cstdint>
#include <string>

#include "runtime/debug_message.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

// Log throttling for objects that retry without end: an immediately repeated
// message is dropped and a flood of distinct messages is thinned out.
class CLoggerInstance {
 public:
  explicit CLoggerInstance(IDebugMessage* owner) : owner_(owner) {}
  virtual ~CLoggerInstance() = default;

  void LogMessage(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void ResetLog();
  IDebugMessage* LogOwner() const { return owner_; }

  // Whether the pass counter value c (after increment) lets a message through.
  static bool Passes(uint32_t c);

 private:
  IDebugMessage* owner_;
  uint32_t passCounter_ = 0;
  CRecursiveLock lock_;
  std::string lastMessage_;
};

}  // namespace orbisan
