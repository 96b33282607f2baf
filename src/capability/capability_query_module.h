#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "camera/base_camera_properties.h"
#include "device/device_info.h"
#include "runtime/debug_message.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"
#include "strandline/capability_query.h"

namespace orbisan {

// Runs one capability query on a worker thread: identifies the device through
// a camera properties object, saves the results into the host's store and
// tells the host's callback how it ended, exactly once.
class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
 public:
  CCapabilityQueryModule(ipcapture::ICapabilityQueryCallback* callback, uint32_t ntscDefault);
  // Derived classes call Shutdown in their own destructor.
  ~CCapabilityQueryModule() override;

  uint32_t Start(const char* address, uint16_t port, const char* user, const char* password,
                 ipcapture::ICapabilityStore* store) override;
  void Terminate() override;
  // A new properties object for the device record; null when none can be made.
  virtual CBaseCameraProperties* CreateCameraProperties() = 0;
  // The worker's body.
  virtual void Fetch();

  // Where the module's warnings go (standard error when none is set).
  void SetLog(IDebugMessage* log) { log_ = log; }

  static constexpr const char* kInvalidAddress =
      "Failed to start capability fetching thread. Device address is invalid!";
  static constexpr const char* kInternalError = "Failed to start capability fetching thread. Internal error occurs";
  static constexpr const char* kQueryFailed = "Failed to get camera properties";
  static constexpr const char* kSaveFailed = "Failed to save capability query results";
  static constexpr const char* kTerminated = "Capability query was terminated";
  static constexpr const char* kUnexpected = "Capability query ended by an unexpected error";

 protected:
  // Stops the query: signals it, waits for the worker (OnTerminated when it
  // does not end within twice the connect time-out, then waits on) and
  // releases the properties. Safe to call more than once.
  void Shutdown();

  const uint32_t ntscDefault_;
  DEVICE_INFO device_;

 private:
  struct Worker;

  void RunWorker();
  // True for the one caller that may report the query's outcome.
  bool ClaimCallback();
  void ReportCompleted();
  void ReportFailed(uint32_t status, const std::string& message);
  void Warn(const std::string& text);

  ipcapture::ICapabilityQueryCallback* const callback_;
  ipcapture::ICapabilityStore* store_ = nullptr;
  TSmartPtr<CBaseCameraProperties> properties_;
  CRecursiveLock lock_;
  std::thread thread_;
  std::shared_ptr<Worker> worker_;
  bool shutDown_ = false;
  std::mutex callbackMutex_;
  bool reported_ = false;
  IDebugMessage* log_ = nullptr;
};

}  // namespace orbisan
