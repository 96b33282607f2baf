#include "capability/process_capability_query.h"

#include <memory>
#include <mutex>
#include <new>

#include "capability/canon_capability_query_module.h"

namespace orbisan {

namespace {

std::mutex& ProcessLock() {
  static std::mutex lock;
  return lock;
}

std::unique_ptr<CCanonCapabilityQueryModule>& ProcessModule() {
  static std::unique_ptr<CCanonCapabilityQueryModule> module;
  return module;
}

}  // namespace

uint32_t InitProcessCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback, uint32_t ntscDefault) {
  std::lock_guard<std::mutex> lock(ProcessLock());
  if (ProcessModule()) return 0;
  ProcessModule().reset(new (std::nothrow) CCanonCapabilityQueryModule(callback, ntscDefault));
  return ProcessModule() ? 1 : 0;
}

uint32_t StartProcessCapabilityQuery(const char* address, uint16_t port, const char* user, const char* password,
                                     ipcapture::ICapabilityStore* store) {
  std::lock_guard<std::mutex> lock(ProcessLock());
  if (address == nullptr || user == nullptr || password == nullptr || !ProcessModule()) return 0;
  return ProcessModule()->Start(address, port, user, password, store);
}

uint32_t TerminateProcessCapabilityQuery() {
  std::lock_guard<std::mutex> lock(ProcessLock());
  if (ProcessModule()) ProcessModule()->Terminate();
  return 1;
}

uint32_t UninitProcessCapabilityQuery() {
  std::unique_ptr<CCanonCapabilityQueryModule> module;
  {
    std::lock_guard<std::mutex> lock(ProcessLock());
    module = std::move(ProcessModule());
  }
  // Destroyed outside the lock: its worker may take a while to end, and a
  // host may uninitialise from inside the callback.
  module.reset();
  return 1;
}

ipcapture::IIPCapabilityQuery* CreateCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback,
                                                     uint32_t ntscDefault) {
  return new (std::nothrow) CCanonCapabilityQueryModule(callback, ntscDefault);
}

}  // namespace orbisan
