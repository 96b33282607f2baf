#pragma once

namespace orbisan {

// Marks the current thread as inside a call into the host's frame sink, so
// that a stop the host asks for from there is not waited for on the very
// thread it would wait for.
class CHostCallbackScope {
 public:
  CHostCallbackScope() { ++Depth(); }
  ~CHostCallbackScope() { --Depth(); }
  CHostCallbackScope(const CHostCallbackScope&) = delete;
  CHostCallbackScope& operator=(const CHostCallbackScope&) = delete;

  static bool Active() { return Depth() > 0; }

 private:
  static int& Depth() {
    thread_local int depth = 0;
    return depth;
  }
};

}  // namespace orbisan
