#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "device/device_info.h"
#include "device/stream_kind_settings.h"
#include "runtime/debug_message.h"
#include "strandline/media_sample.h"

namespace orbisan {

class IEdgeStorageTask;

// Value of GetIntParameter for an absent or non-numeric parameter.
constexpr int32_t kNoIntParameter = static_cast<int32_t>(0x80000000u);

// The driver's service interface, held (not owned) by every object it makes.
class IDriver : public IDebugMessage {
 public:
  virtual std::string GetDriverName() = 0;
  virtual std::string GetHostDirectory() = 0;
  virtual DEVICE_INFO* GetDeviceInfo() = 0;
  virtual std::pair<uint32_t, uint32_t> GetIOCounts() = 0;  // inputs, outputs
  virtual ipcapture::IMediaSampleAllocator* GetSampleAllocator() = 0;
  virtual int32_t GetVideoStandard(uint32_t width, uint32_t height) = 0;
  virtual uint32_t GetDefaultCodec() = 0;
  virtual uint32_t GetChannelCount() = 0;
  virtual IEdgeStorageTask* GetEdgeStorageTask() = 0;
  // Empty when absent or "(none)".
  virtual std::string GetStringParameter(uint32_t id) = 0;
  // kNoIntParameter when absent or not a decimal integer.
  virtual int32_t GetIntParameter(uint32_t id) = 0;
  virtual const StreamKindSettings& GetStreamKindSettings() = 0;
};

// The host's integer parameter, or fallback when it is absent or not a number.
inline int32_t IntParameterOr(IDriver* driver, uint32_t id, int32_t fallback) {
  const int32_t value = driver->GetIntParameter(id);
  return value == kNoIntParameter ? fallback : value;
}

}  // namespace orbisan
