#include "runtime/event.h"

#include <algorithm>
#include <chrono>

namespace orbisan {

struct CEvent::Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
};

struct CEvent::Impl {
  mutable std::mutex mutex;
  bool manual = false;
  bool signalled = false;
  std::vector<Waiter*> waiters;
};

CEvent::CEvent(bool manualReset) : impl_(std::make_unique<Impl>()) { impl_->manual = manualReset; }

CEvent::~CEvent() = default;

bool CEvent::Set() {
  if (!impl_) return false;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->signalled = true;
  for (Waiter* waiter : impl_->waiters) {
    std::lock_guard<std::mutex> wl(waiter->mutex);
    waiter->woken = true;
    waiter->cv.notify_one();
  }
  return true;
}

bool CEvent::Reset() {
  if (!impl_) return false;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->signalled = false;
  return true;
}

bool CEvent::IsSet() const {
  if (!impl_) return false;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->signalled;
}

bool CEvent::Wait(uint32_t timeoutMs) {
  CEvent* self[1] = {this};
  return WaitForAny(self, 1, timeoutMs) == 0;
}

int32_t CEvent::WaitForAny(CEvent* const events[], uint32_t count, uint32_t timeoutMs) {
  if (count == 0 || events == nullptr) return -1;
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] == nullptr || !events[i]->impl_) return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  Waiter waiter;
  auto unregister = [&](uint32_t upto) {
    for (uint32_t i = 0; i < upto && i < count; ++i) {
      Impl& impl = *events[i]->impl_;
      std::lock_guard<std::mutex> lock(impl.mutex);
      auto it = std::find(impl.waiters.begin(), impl.waiters.end(), &waiter);
      if (it != impl.waiters.end()) impl.waiters.erase(it);
    }
  };
  // The first set event in order (an auto-reset one is reset), after leaving
  // every event; -1 when none is set. With enrol, registers with each event
  // that is not set, so that a Set after the check still wakes us.
  auto take = [&](bool enrol) -> int32_t {
    for (uint32_t i = 0; i < count; ++i) {
      Impl& impl = *events[i]->impl_;
      std::unique_lock<std::mutex> lock(impl.mutex);
      if (impl.signalled) {
        if (!impl.manual) impl.signalled = false;
        lock.unlock();
        unregister(count);  // earlier rounds may have registered with every event
        return static_cast<int32_t>(i);
      }
      if (enrol && std::find(impl.waiters.begin(), impl.waiters.end(), &waiter) == impl.waiters.end()) {
        impl.waiters.push_back(&waiter);
      }
    }
    return -1;
  };
  for (;;) {
    const int32_t set = take(true);
    if (set >= 0) return set;
    if (timeoutMs == 0) {
      unregister(count);
      return -1;
    }
    std::unique_lock<std::mutex> wl(waiter.mutex);
    bool woken;
    if (timeoutMs == kInfinite) {
      waiter.cv.wait(wl, [&] { return waiter.woken; });
      woken = true;
    } else {
      woken = waiter.cv.wait_until(wl, deadline, [&] { return waiter.woken; });
    }
    waiter.woken = false;
    wl.unlock();
    if (!woken) {
      // One last look: a Set may have raced with the time-out.
      const int32_t late = take(false);
      if (late < 0) unregister(count);
      return late;
    }
  }
}

}  // namespace orbisan
