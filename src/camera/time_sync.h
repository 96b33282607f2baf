#pragma once

#include <cstdint>
#include <memory>

#include "camera/time_provider.h"
#include "device/idriver.h"
#include "runtime/recursive_lock.h"

namespace orbisan {

// Keeps a time provider while at least one device is registered: the first
// registration creates it and starts its thread, the last unregistration
// stops the thread (waiting at most 5000 ms) and destroys it.
class CTimeSyncService {
 public:
  explicit CTimeSyncService(uint32_t itemPeriodMs = CTimeProvider::kItemPeriodMs,
                            uint32_t tickPeriodMs = CTimeProvider::kTickPeriodMs);
  ~CTimeSyncService();

  void Register(IDriver* driver);
  // A driver that never registered changes nothing.
  void Unregister(IDriver* driver);

  // Runs f with the current provider (null when there is none), under the lock.
  template <typename F>
  auto WithProvider(F f) {
    CAutoLock lock(lock_);
    return f(provider_.get());
  }

  static constexpr uint32_t kStopWaitMs = 5000;

 private:
  CRecursiveLock lock_;
  std::unique_ptr<CTimeProvider> provider_;
  const uint32_t itemPeriodMs_;
  const uint32_t tickPeriodMs_;
};

// The process-wide service that the driver objects of group-2 cameras use.
void TimeSyncRegister(IDriver* driver);
void TimeSyncUnregister(IDriver* driver);

}  // namespace orbisan
