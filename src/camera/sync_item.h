#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "camera/http_sender.h"
#include "device/device_info.h"
#include "runtime/time_utils.h"
#include "strandline/system_time.h"

namespace orbisan {

// One device whose clock the time provider keeps in step with this server's
// UTC time. It keeps its own copy of the device record: the driver that
// registered it may close while others still share the item.
class CSyncItem {
 public:
  CSyncItem(const DEVICE_INFO& device, uint32_t periodMs);
  virtual ~CSyncItem() = default;
  CSyncItem(const CSyncItem&) = delete;
  CSyncItem& operator=(const CSyncItem&) = delete;

  // One attempt, when the period since the last accepted one has passed (or
  // the server's clock went back past it). A refused or failed attempt is
  // repeated on the next call.
  void Sync();
  // Ends a request under way and every later attempt; from any thread.
  void Cancel();
  // UTC file time of the last accepted sync; 0 for never.
  uint64_t LastSync() { return lastSync_.Get(); }

  // "1,MMDD0000YYYY,hh:mm:ss,+00": the camera's DATE_CONFIG value for a UTC time.
  static std::string DateConfigText(const SYSTEMTIME& utc);

 private:
  std::string DateConfigPath(const SYSTEMTIME& utc) const;

  const DEVICE_INFO device_;
  Web::CHttpSender http_;
  const uint32_t periodMs_;
  CTime lastSync_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace orbisan
