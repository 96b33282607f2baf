#include "camera/time_sync.h"

namespace orbisan {

CTimeSyncService::CTimeSyncService(uint32_t itemPeriodMs, uint32_t tickPeriodMs)
    : itemPeriodMs_(itemPeriodMs), tickPeriodMs_(tickPeriodMs) {}

CTimeSyncService::~CTimeSyncService() {
  CAutoLock lock(lock_);
  provider_.reset();
}

void CTimeSyncService::Register(IDriver* driver) {
  if (driver == nullptr) return;
  CAutoLock lock(lock_);
  if (!provider_) provider_ = std::make_unique<CTimeProvider>(itemPeriodMs_, tickPeriodMs_);
  provider_->AddDevice(driver);
  if (!provider_->IsRunning()) provider_->StartThread("ACTiTimeSyncThread");
}

void CTimeSyncService::Unregister(IDriver* driver) {
  std::unique_ptr<CTimeProvider> last;
  {
    CAutoLock lock(lock_);
    if (!provider_ || !provider_->RemoveDevice(driver)) return;
    last = std::move(provider_);
  }
  // Stopped outside the lock: the other drivers' registrations do not wait
  // for this thread (a new one starts its own provider meanwhile). A stop
  // that takes too long is logged to the driver that let go last.
  last->SetOwner(driver);
  last->StopThread(kStopWaitMs);
}

namespace {

CTimeSyncService& ProcessService() {
  static CTimeSyncService service;
  return service;
}

}  // namespace

void TimeSyncRegister(IDriver* driver) { ProcessService().Register(driver); }

void TimeSyncUnregister(IDriver* driver) { ProcessService().Unregister(driver); }

}  // namespace orbisan
