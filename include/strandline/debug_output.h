#pragma once

#include <cstdint>

namespace orbisan {

// One finished log record handed to the host's sink.
class CDebugInfoIf {
 public:
  virtual ~CDebugInfoIf() = default;
  virtual uint8_t GetLevel() = 0;
  // Null when the message is empty.
  virtual const char* GetText() = 0;
};

namespace ipcapture {

// The host's log sink; must accept calls from any thread.
class IDebugOutput {
 public:
  virtual ~IDebugOutput() = default;
  virtual void Output(CDebugInfoIf* info) = 0;
};

}  // namespace ipcapture
}  // namespace orbisan
