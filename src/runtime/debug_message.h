#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// Log levels passed to IDebugMessage::DebugMessage.
enum LogLevel : uint32_t {
  kLogError = 1,
  kLogWarning = 2,
  kLogInfo = 3,
  kLogTrace = 4,  // never forwarded to the host
  kLogDriverOpened = 100,
};

// What every object of the driver logs through: the driver object itself
// implements it, channels and workers hold it as a plain pointer.
class IDebugMessage {
 public:
  virtual ~IDebugMessage() = default;
  virtual std::string GetDeviceName() = 0;
  virtual void DebugMessage(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
};

}  // namespace orbisan
