#include "capability/capability_query_module.h"

#include <cstdio>

#include "capability/capability_result_writer.h"
#include "runtime/event.h"
#include "runtime/format.h"
#include "runtime/thread_id.h"

namespace orbisan {

namespace {

// Characters that cannot stand in a device address: a port, a path, a
// query or credentials in it would all end up in the camera's URLs.
constexpr const char* kForbiddenAddressCharacters = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";

}  // namespace

struct CCapabilityQueryModule::Worker {
  CManualEvent done;
  std::atomic<uint32_t> threadId{0};
};

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::ICapabilityQueryCallback* callback, uint32_t ntscDefault)
    : ntscDefault_(ntscDefault), callback_(callback) {}

CCapabilityQueryModule::~CCapabilityQueryModule() { Shutdown(); }

uint32_t CCapabilityQueryModule::Start(const char* address, uint16_t port, const char* user, const char* password,
                                       ipcapture::ICapabilityStore* store) {
  CAutoLock lock(lock_);
  if (thread_.joinable() || shutDown_) return 0;
  store_ = store;
  if (address == nullptr || user == nullptr || password == nullptr) return 0;
  device_.address = address;
  device_.port = port;
  device_.user = user;
  device_.password = password;
  if (device_.connectTimeoutMs == 0) return 0;
  properties_.Reset(CreateCameraProperties());
  if (!properties_) return 0;
  {
    std::lock_guard<std::mutex> guard(callbackMutex_);
    reported_ = false;
  }
  auto worker = std::make_shared<Worker>();
  try {
    // The worker keeps its own state: a host may destroy the module from
    // inside the callback, on the worker itself.
    thread_ = std::thread([this, worker] {
      worker->threadId.store(CurrentThreadId());
      RunWorker();
      worker->done.Set();
    });
  } catch (...) {
    properties_.Release();
    return 0;
  }
  worker_ = worker;
  return 1;
}

void CCapabilityQueryModule::Terminate() {
  CAutoLock lock(lock_);
  if (!properties_) return;
  properties_->StopEvent().Set();
  properties_->Stop();
}

void CCapabilityQueryModule::RunWorker() {
  try {
    Fetch();
  } catch (...) {
    // The host is still owed its one answer.
    ReportFailed(3, kUnexpected);
  }
}

void CCapabilityQueryModule::Fetch() {
  uint32_t status = 3;
  std::string message;
  DEVICE_INFO device;
  ipcapture::ICapabilityStore* store = nullptr;
  TSmartPtr<CBaseCameraProperties> properties;
  {
    CAutoLock lock(lock_);
    device = device_;
    store = store_;
  }
  if (device.address.find_first_of(kForbiddenAddressCharacters) != std::string::npos) {
    status = 0;
    message = kInvalidAddress;
  } else {
    {
      CAutoLock lock(lock_);
      properties = properties_;
    }
    if (!properties || store == nullptr) {
      message = kInternalError;
    } else if (!properties->Query(status)) {
      message = kQueryFailed;
      const std::string details = properties->GetErrorDetails();
      if (status == 1) {
        message += details.empty() ? ", login failed (invalid credentials)" : ": " + details;
      } else if (status == 2) {
        message += ", device is offline or is located in unaccessible subnet";
      } else if (status == 3 && !details.empty()) {
        message += ": " + details;
      }
    } else if (properties->StopEvent().IsSet()) {
      // A stopped identification is incomplete: nothing of it is saved.
      status = 3;
      message = kTerminated;
    } else if (CCapabilityResultWriter(*properties, *store, device).Save()) {
      {
        CAutoLock lock(lock_);
        properties.Release();
      }
      ReportCompleted();
      return;
    } else {
      status = 3;
      message = kSaveFailed;
    }
  }
  {
    CAutoLock lock(lock_);
    properties.Release();
  }
  ReportFailed(status, message);
}

bool CCapabilityQueryModule::ClaimCallback() {
  std::lock_guard<std::mutex> guard(callbackMutex_);
  if (reported_) return false;
  reported_ = true;
  return true;
}

// Nothing of the module may be touched after the callback: the host may
// destroy it from there.
void CCapabilityQueryModule::ReportCompleted() {
  if (ClaimCallback() && callback_ != nullptr) callback_->OnCompleted();
}

void CCapabilityQueryModule::ReportFailed(uint32_t status, const std::string& message) {
  if (ClaimCallback() && callback_ != nullptr) callback_->OnFailed(status, message.c_str());
}

void CCapabilityQueryModule::Warn(const std::string& text) {
  if (log_ != nullptr) {
    log_->DebugMessage(kLogWarning, "%s", text.c_str());
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

void CCapabilityQueryModule::Shutdown() {
  Terminate();
  std::thread thread;
  std::shared_ptr<Worker> worker;
  uint32_t waitMs = 0;
  {
    CAutoLock lock(lock_);
    shutDown_ = true;
    if (thread_.joinable()) {
      if (thread_.get_id() == std::this_thread::get_id()) {
        // Destroyed from the callback: the worker only returns from here on.
        thread_.detach();
      } else {
        thread = std::move(thread_);
        worker = worker_;
      }
    }
    worker_.reset();
    const uint64_t twice = 2ull * device_.connectTimeoutMs;
    waitMs = twice >= kInfinite ? kInfinite - 1 : static_cast<uint32_t>(twice);
  }
  // The wait runs without the lock, which the worker takes for its state.
  if (thread.joinable()) {
    if (!worker->done.Wait(waitMs)) {
      Warn(
          Format("%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds and will be "
                 "terminated!",
                 "orbisan::CCapabilityQueryModule::Shutdown", worker->threadId.load(), "CapabilityFetch",
                 (device_.address + Format(":%hu", device_.port)).c_str(), static_cast<unsigned long>(waitMs)));
      if (ClaimCallback() && callback_ != nullptr) callback_->OnTerminated();
      // A thread cannot be killed safely here; its requests are all bounded.
      worker->done.Wait(kInfinite);
    }
    thread.join();
  }
  CAutoLock lock(lock_);
  properties_.Release();
}

}  // namespace orbisan
