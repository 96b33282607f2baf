#pragma once

#include <cstdint>

#include "strandline/capability_store.h"

namespace orbisan::ipcapture {

// Told how a started capability query ended: exactly one of the three per
// started query. Implemented by the host; called from the driver's threads.
class ICapabilityQueryCallback {
 public:
  virtual ~ICapabilityQueryCallback() = default;
  virtual void UnusedSlot1() {}
  virtual void OnCompleted() = 0;
  // status 0: the address is unusable; 1: login refused; 2: device offline;
  // 3: anything else.
  virtual void OnFailed(uint32_t status, const char* message) = 0;
  // The query's worker did not end in time when the module was destroyed.
  virtual void OnTerminated() = 0;
};

// One capability query module: identifies a device on a worker thread and
// writes what it learnt into the host's store.
class IIPCapabilityQuery {
 public:
  virtual ~IIPCapabilityQuery() = default;
  // 1 when the worker started, 0 when refused (one query per module).
  virtual uint32_t Start(const char* address, uint16_t port, const char* user, const char* password,
                         ICapabilityStore* store) = 0;
  // Asks a running query to stop; returns at once.
  virtual void Terminate() = 0;
};

}  // namespace orbisan::ipcapture
