#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "runtime/event.h"

namespace orbisan {

// Re-entrant lock: a lock-free fast path that spins (on machines with more
// than one processor) before blocking on an auto-reset event. Guards the
// short sections that are taken for every frame.
class CRecursiveLock {
 public:
  // Spins according to the processor count of this machine.
  CRecursiveLock();
  // Spins as if the machine had processorCount processors (for tests).
  explicit CRecursiveLock(unsigned processorCount);
  ~CRecursiveLock();
  CRecursiveLock(const CRecursiveLock&) = delete;
  CRecursiveLock& operator=(const CRecursiveLock&) = delete;

  void Enter();
  bool TryEnter();
  void Leave();

  uint32_t SpinCount() const { return state_->spinCount; }
  // Compare-and-swap attempts made by TryEnter calls so far (diagnostics).
  uint64_t Attempts() const { return state_->attempts.load(std::memory_order_relaxed); }

  static uint32_t SpinCountFor(unsigned processorCount) { return processorCount > 1 ? 4000u : 0u; }

 private:
  struct State {
    uint32_t spinCount = 0;
    std::atomic<int32_t> lockCount{0};
    std::atomic<uint32_t> ownerThreadId{0};
    int32_t recursion = 0;
    std::atomic<uint64_t> attempts{0};
  };
  CEvent event_{false};
  std::unique_ptr<State> state_;
};

// Scope guard: enters on construction, leaves on destruction.
class CAutoLock {
 public:
  explicit CAutoLock(CRecursiveLock& lock) : lock_(lock) { lock_.Enter(); }
  ~CAutoLock() { lock_.Leave(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CRecursiveLock& lock_;
};

}  // namespace orbisan
