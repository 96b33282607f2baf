#include "runtime/recursive_lock.h"

#include "runtime/thread_id.h"

namespace orbisan {

CRecursiveLock::CRecursiveLock() : CRecursiveLock(ProcessorCount()) {}

CRecursiveLock::CRecursiveLock(unsigned processorCount) : state_(std::make_unique<State>()) {
  state_->spinCount = SpinCountFor(processorCount);
}

CRecursiveLock::~CRecursiveLock() = default;

bool CRecursiveLock::TryEnter() {
  State& s = *state_;
  const uint32_t self = CurrentThreadId();
  uint32_t spins = s.spinCount;
  for (;;) {
    int32_t expected = 0;
    s.attempts.fetch_add(1, std::memory_order_relaxed);
    if (s.lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
      s.ownerThreadId.store(self, std::memory_order_relaxed);
      s.recursion = 1;
      return true;
    }
    if (s.ownerThreadId.load(std::memory_order_relaxed) == self) {
      s.lockCount.fetch_add(1, std::memory_order_acquire);
      ++s.recursion;
      return true;
    }
    if (spins == 0) return false;
    --spins;
  }
}

void CRecursiveLock::Enter() {
  if (TryEnter()) return;
  State& s = *state_;
  const uint32_t self = CurrentThreadId();
  const int32_t now = s.lockCount.fetch_add(1, std::memory_order_acquire) + 1;
  if (now == 1) {
    s.ownerThreadId.store(self, std::memory_order_relaxed);
    s.recursion = 1;
    return;
  }
  if (s.ownerThreadId.load(std::memory_order_relaxed) == self) {
    ++s.recursion;
    return;
  }
  event_.Wait(kInfinite);
  s.ownerThreadId.store(self, std::memory_order_relaxed);
  s.recursion = 1;
}

void CRecursiveLock::Leave() {
  State& s = *state_;
  if (--s.recursion > 0) {
    s.lockCount.fetch_sub(1, std::memory_order_release);
    return;
  }
  s.ownerThreadId.store(0, std::memory_order_relaxed);
  if (s.lockCount.fetch_sub(1, std::memory_order_release) - 1 > 0) event_.Set();
}

}  // namespace orbisan
