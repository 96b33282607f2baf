#pragma once

#include "runtime/recursive_lock.h"

namespace orbisan {

// A value read and written only under its own lock.
template <typename T>
class TSecured {
 public:
  TSecured() = default;
  explicit TSecured(const T& value) : value_(value) {}
  virtual ~TSecured() = default;

  T Get() const {
    CAutoLock guard(lock_);
    return value_;
  }
  void Set(const T& value) {
    CAutoLock guard(lock_);
    value_ = value;
  }
  // Runs fn(value&) under the lock and returns its result.
  template <typename F>
  auto Update(F fn) {
    CAutoLock guard(lock_);
    return fn(value_);
  }

 private:
  mutable CRecursiveLock lock_;
  T value_{};
};

}  // namespace orbisan
