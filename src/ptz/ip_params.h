#pragma once

#include <cstdint>

namespace orbisan {

// The state of a PTZ control that its command object reads and writes.
class IIPParams {
 public:
  virtual ~IIPParams() = default;
  virtual uint32_t GetChannel() = 0;
  virtual bool GetManualIris() = 0;
  virtual bool SetManualIris(bool manual) = 0;
  virtual bool GetManualFocus() = 0;
  virtual bool SetManualFocus(bool manual) = 0;
};

}  // namespace orbisan
