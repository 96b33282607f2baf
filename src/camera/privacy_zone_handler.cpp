#include "camera/privacy_zone_handler.h"

#include <cmath>

#include "camera/cgi_path.h"
#include "camera/h_utils.h"
#include "device/host_parameter.h"

namespace orbisan {

namespace {

// More zones than any device offers means a broken parameter.
constexpr int32_t kMaxZones = 32;

// Percentages from the host, held to 0..100 so that a broken zone cannot
// turn into a negative or oversized rectangle.
double Percent(double value) {
  if (!std::isfinite(value) || value < 0) return 0;
  return value > 100 ? 100 : value;
}

uint32_t Pixels(double percent, uint32_t size) { return static_cast<uint32_t>(percent * size / 100.0); }

}  // namespace

CPrivacyZoneHandler::CPrivacyZoneHandler(IDriver* driver, uint32_t value)
    : CLoggerInstance(driver), driver_(driver), channelValue_(value), http_(*driver->GetDeviceInfo()) {
  const int32_t count = driver->GetIntParameter(kParamPrivacyMaskCount);
  zoneCount_ = (count == kNoIntParameter || count <= 0) ? 0 : static_cast<uint32_t>(std::min(count, kMaxZones));
  zones_.resize(zoneCount_);
  for (uint32_t i = 0; i < zoneCount_; ++i) zones_[i].index = i;
}

void CPrivacyZoneHandler::SetZones(ipcapture::IPrivacyZoneList* zones) {
  if (zones == nullptr) return;
  filledFromHost_ = true;
  for (uint32_t i = 0; i < zoneCount_; ++i) {
    ipcapture::IPrivacyZone* zone = zones->GetZone(i);
    if (zone == nullptr) break;
    Zone& record = zones_[i];
    record.enabled = zone->IsEnabled() == 1 ? 1 : 0;
    record.left = zone->GetLeft();
    record.top = zone->GetTop();
    record.width = zone->GetWidth();
    record.height = zone->GetHeight();
  }
}

void CPrivacyZoneHandler::ApplyZones(const STREAM_PARAMS& request) {
  if (!filledFromHost_) return;
  for (const Zone& zone : zones_) {
    std::string region;
    if (zone.enabled) {
      const double left = Percent(zone.left);
      const double top = Percent(zone.top);
      const uint32_t x = Pixels(left, request.width);
      const uint32_t y = Pixels(top, request.height);
      const uint32_t w = Pixels(std::min(Percent(zone.width), 100 - left), request.width);
      const uint32_t h = Pixels(std::min(Percent(zone.height), 100 - top), request.height);
      region = HUtils::FormatString("%u,1,000000,%u,%u,%u,%u", zone.index + 1, x, y, x + w, y + h);
    } else {
      region = HUtils::FormatString("%u,0,000000,1,1,20,20", zone.index + 1);
    }
    std::string answer;
    if (!HUtils::RequestGet(http_, CCgiPath(cgi::kEncoder, *driver_->GetDeviceInfo()).Item("PRIVACY_REGION", region),
                            answer)) {
      LogMessage(kLogError, "Can't set privacy zone %u info, device: %s ", zone.index + 1,
                 driver_->GetDeviceName().c_str());
      return;
    }
    if (answer.empty() || answer.find("ERROR") != std::string::npos) {
      LogMessage(kLogError, "Error setting privacy zone %u info, device: %s ", zone.index + 1,
                 driver_->GetDeviceName().c_str());
    }
  }
}

}  // namespace orbisan
