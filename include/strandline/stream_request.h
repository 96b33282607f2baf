#pragma once

#include <cstdint>

namespace orbisan::ipcapture {

// Host objects of a stream request. Numbers are 16-bit, widened by the driver.

class IFrameSize {
 public:
  virtual ~IFrameSize() = default;
  virtual uint16_t GetWidth() = 0;
  virtual uint16_t GetHeight() = 0;
};

class IVideoFormat {
 public:
  virtual ~IVideoFormat() = default;
  virtual uint16_t GetFormatVersion() = 0;  // not called
  virtual uint16_t GetColorDepth() = 0;     // not called
  virtual IFrameSize* GetFrameSize() = 0;
  virtual uint16_t GetCodec() = 0;
};

class IStreamSettings {
 public:
  virtual ~IStreamSettings() = default;
  virtual uint16_t GetFrameRate() = 0;
  virtual uint16_t GetQuality() = 0;  // not called
  virtual uint16_t GetBitrate() = 0;
  virtual uint16_t IsMotionDetectionEnabled() = 0;
};

// One privacy zone, in percent of the picture.
class IPrivacyZone {
 public:
  virtual ~IPrivacyZone() = default;
  virtual uint32_t GetIndex() = 0;  // not called
  virtual uint32_t GetColor() = 0;  // not called
  virtual uint32_t IsEnabled() = 0;
  virtual double GetLeft() = 0;
  virtual double GetTop() = 0;
  virtual double GetWidth() = 0;
  virtual double GetHeight() = 0;
};

class IPrivacyZoneList {
 public:
  virtual ~IPrivacyZoneList() = default;
  // Null past the last zone.
  virtual IPrivacyZone* GetZone(uint32_t index) = 0;
};

class IStreamRequest {
 public:
  virtual ~IStreamRequest() = default;
  virtual IVideoFormat* GetVideoFormat() = 0;
  virtual IStreamSettings* GetStreamSettings() = 0;
  virtual uint32_t GetPriority() = 0;     // not called
  virtual const char* GetStreamId() = 0;  // not called
  virtual IPrivacyZoneList* GetPrivacyMask() = 0;
};

}  // namespace orbisan::ipcapture
