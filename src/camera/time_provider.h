#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "camera/sync_item.h"
#include "device/idriver.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"

namespace orbisan {

// One thread for every device of the process whose clock is kept in step:
// it wakes when a device is added and every tick, and syncs each device
// whose period has passed. Drivers on the same address and port share one
// item.
class CTimeProvider : public CBaseThread {
 public:
  static constexpr uint32_t kItemPeriodMs = 300000;
  static constexpr uint32_t kTickPeriodMs = 60000;

  explicit CTimeProvider(uint32_t itemPeriodMs = kItemPeriodMs, uint32_t tickPeriodMs = kTickPeriodMs);
  ~CTimeProvider() override;

  // A driver registered again (perhaps for another device) is moved.
  void AddDevice(IDriver* driver);
  // Drops the driver's registration, if it has one. True when no device is left.
  bool RemoveDevice(IDriver* driver);

  size_t ItemCount();
  // Drivers sharing the device's item; 0 when it has none.
  uint32_t Users(const DEVICE_INFO& device);
  // UTC file time of the device's last accepted sync; 0 for never or no item.
  uint64_t LastSync(const DEVICE_INFO& device);

  // "%.8x:%hu" of the first IPv4 address the device's host name resolves to
  // and its HTTP port; a name that does not resolve to IPv4 (an IPv6 literal,
  // an unknown host) is keyed by its text, so that distinct devices never
  // share an item.
  static std::string DeviceKey(const DEVICE_INFO& device);

 protected:
  uint32_t ThreadFunction() override;

 private:
  struct Entry {
    TSmartPtr<CSyncItem> item;
    uint32_t users = 0;
  };
  void Pass();

  CRecursiveLock lock_;
  std::map<std::string, Entry> items_;
  std::map<IDriver*, std::string> drivers_;  // whose registration is under which key
  const uint32_t itemPeriodMs_;
  const uint32_t tickPeriodMs_;
  CEvent wakeEvent_{false};
};

}  // namespace orbisan
