#include "camera/sync_item.h"

#include "camera/cgi_path.h"
#include "camera/h_utils.h"

namespace orbisan {

CSyncItem::CSyncItem(const DEVICE_INFO& device, uint32_t periodMs)
    : device_(device), http_(device_), periodMs_(periodMs) {
  lastSync_.Set(0);
}

std::string CSyncItem::DateConfigText(const SYSTEMTIME& utc) {
  return HUtils::FormatString("1,%.2u%.2u0000%.4u,%.2u:%.2u:%.2u,+00", utc.wMonth, utc.wDay, utc.wYear, utc.wHour,
                              utc.wMinute, utc.wSecond);
}

std::string CSyncItem::DateConfigPath(const SYSTEMTIME& utc) const {
  return CCgiPath(cgi::kSystem, device_).Item("DATE_CONFIG", DateConfigText(utc));
}

void CSyncItem::Sync() {
  if (cancelled_.load()) return;
  const uint64_t last = lastSync_.Get();
  const uint64_t now = NowFileTime();
  if (last != 0 && now >= last && (now - last) / kFileTimeUnitsPerMs <= periodMs_) return;
  SYSTEMTIME utc;
  if (!FileTimeToSystemTimeUtc(now, utc)) return;
  std::string answer;
  if (HUtils::RequestGet(http_, DateConfigPath(utc), answer) && answer.find("ERROR") == std::string::npos) {
    lastSync_.Set(NowFileTime());
  }
}

void CSyncItem::Cancel() {
  cancelled_.store(true);
  http_.Shutdown();  // sticky: a sync that starts after this sends nothing
}

}  // namespace orbisan
