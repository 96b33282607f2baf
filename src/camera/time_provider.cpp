#include "camera/time_provider.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "camera/h_utils.h"
#include "platform/socket_utils.h"

namespace orbisan {

CTimeProvider::CTimeProvider(uint32_t itemPeriodMs, uint32_t tickPeriodMs)
    : itemPeriodMs_(itemPeriodMs), tickPeriodMs_(tickPeriodMs) {}

CTimeProvider::~CTimeProvider() {
  StopThread(5000);
  CAutoLock lock(lock_);
  items_.clear();
}

std::string CTimeProvider::DeviceKey(const DEVICE_INFO& device) {
  in_addr address{};
  if (!device.address.empty() && ResolveIPv4(device.address, address)) {
    return HUtils::FormatString("%.8x:%hu", static_cast<unsigned>(address.s_addr), device.port);
  }
  std::string name = device.address;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return HUtils::FormatString("name:%s:%hu", name.c_str(), device.port);
}

void CTimeProvider::AddDevice(IDriver* driver) {
  if (driver == nullptr || driver->GetDeviceInfo() == nullptr) return;
  const DEVICE_INFO device = *driver->GetDeviceInfo();
  const std::string key = DeviceKey(device);
  {
    CAutoLock lock(lock_);
    auto known = drivers_.find(driver);
    if (known != drivers_.end() && known->second == key) return;
  }
  RemoveDevice(driver);
  CAutoLock lock(lock_);
  drivers_[driver] = key;
  Entry& entry = items_[key];
  if (entry.users++ == 0) {
    entry.item.Reset(new CSyncItem(device, itemPeriodMs_));
    wakeEvent_.Set();
  }
}

bool CTimeProvider::RemoveDevice(IDriver* driver) {
  TSmartPtr<CSyncItem> removed;
  {
    CAutoLock lock(lock_);
    auto known = drivers_.find(driver);
    if (known == drivers_.end()) return items_.empty();
    auto entry = items_.find(known->second);
    drivers_.erase(known);
    if (entry != items_.end() && --entry->second.users == 0) {
      removed = entry->second.item;
      items_.erase(entry);
    }
  }
  // Outside the lock, so that a sync in progress ends at once; the pass that
  // runs it holds its own reference, so the item outlives it.
  if (removed) removed->Cancel();
  CAutoLock lock(lock_);
  removed.Release();
  return items_.empty();
}

size_t CTimeProvider::ItemCount() {
  CAutoLock lock(lock_);
  return items_.size();
}

uint32_t CTimeProvider::Users(const DEVICE_INFO& device) {
  const std::string key = DeviceKey(device);
  CAutoLock lock(lock_);
  auto it = items_.find(key);
  return it == items_.end() ? 0 : it->second.users;
}

uint64_t CTimeProvider::LastSync(const DEVICE_INFO& device) {
  const std::string key = DeviceKey(device);
  CAutoLock lock(lock_);
  auto it = items_.find(key);
  return it == items_.end() ? 0 : it->second.item->LastSync();
}

uint32_t CTimeProvider::ThreadFunction() {
  CEvent* const events[] = {&StopEvent(), &wakeEvent_};
  while (CEvent::WaitForAny(events, 2, tickPeriodMs_) != 0) Pass();
  return 0;
}

void CTimeProvider::Pass() {
  std::vector<TSmartPtr<CSyncItem>> copies;
  {
    CAutoLock lock(lock_);
    for (auto& [key, entry] : items_) copies.push_back(entry.item);
  }
  try {
    for (TSmartPtr<CSyncItem>& item : copies) {
      if (IsStopping()) break;
      if (item) item->Sync();
    }
  } catch (...) {
    // The next pass tries again.
  }
  // The reference counts are not atomic: they change only under the lock.
  CAutoLock lock(lock_);
  copies.clear();
}

}  // namespace orbisan
