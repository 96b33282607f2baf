#pragma once

#include <cstdint>
#include <string>

#include "runtime/debug_message.h"

namespace orbisan {

// What a preset list asks of the camera: save, go to or delete a zero-based
// slot. Synchronous: each call returns with the camera's answer.
class IPrepositionComm : public virtual IDebugMessage {
 public:
  virtual bool SavePreposition(uint32_t slot, const std::wstring& name) = 0;
  virtual bool GoToPreposition(uint32_t slot, const std::wstring& name, uint32_t value) = 0;
  virtual bool RemovePreposition(uint32_t slot, const std::wstring& name) = 0;
};

}  // namespace orbisan
