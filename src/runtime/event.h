#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace orbisan {

// Wait time that never runs out.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// An unnamed event, manual- or auto-reset, starting non-signalled. Waiters
// register with the event so a Set wakes them directly: WaitForAny over
// several events blocks without polling.
class CEvent {
 public:
  explicit CEvent(bool manualReset = false);
  virtual ~CEvent();
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  bool Set();
  bool Reset();
  // True when signalled within timeoutMs; false on time-out.
  bool Wait(uint32_t timeoutMs);
  // Index of the first signalled event, or -1 on time-out or when count is 0.
  static int32_t WaitForAny(CEvent* const events[], uint32_t count, uint32_t timeoutMs);

  // A non-blocking look at the state (auto-reset events are not consumed).
  bool IsSet() const;

 private:
  struct Waiter;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class CManualEvent : public CEvent {
 public:
  CManualEvent() : CEvent(true) {}
};

}  // namespace orbisan
