#pragma once

#include <cstdint>
#include <vector>

#include "camera/http_sender.h"
#include "device/idriver.h"
#include "device/stream_params.h"
#include "runtime/logger_instance.h"
#include "strandline/stream_request.h"

namespace orbisan {

// The privacy masks of one channel: one record per zone the device supports
// (host parameter 16), filled from the host's zone list and written into the
// camera as rectangles in pixels of the requested picture.
class CPrivacyZoneHandler : public CLoggerInstance {
 public:
  struct Zone {
    uint32_t index = 0;
    uint8_t enabled = 0;
    double left = 0, top = 0, width = 0, height = 0;  // percent of the picture
  };

  CPrivacyZoneHandler(IDriver* driver, uint32_t value);

  // Copies the host's zones, from the first, until the list has no more.
  void SetZones(ipcapture::IPrivacyZoneList* zones);
  // Writes every record into the camera. The camera has one set of masks for
  // the whole device, so only a handler whose records came from the host
  // (the recording channel's) writes: a live or remote stream starting must
  // not clear the recording channel's masks.
  void ApplyZones(const STREAM_PARAMS& request);

  const std::vector<Zone>& Zones() const { return zones_; }
  bool FilledFromHost() const { return filledFromHost_; }
  uint32_t Value() const { return channelValue_; }

 private:
  IDriver* driver_;
  uint32_t channelValue_;
  Web::CHttpSender http_;
  uint32_t zoneCount_ = 0;
  std::vector<Zone> zones_;
  bool filledFromHost_ = false;
};

}  // namespace orbisan
