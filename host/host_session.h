#pragma once

#include <memory>
#include <string>

#include "host/driver_module.h"
#include "host/host_options.h"
#include "host/host_setup.h"

namespace strandline::host {

// One driver object opened for the device the options describe.
// SIGINT and SIGTERM call handler (which only sets a flag the command polls).
void CatchStopSignals(void (*handler)(int));

class HostSession {
 public:
  explicit HostSession(const HostOptions& options);
  ~HostSession();

  // Loads the module, creates the driver and opens it; false with a reason.
  bool Open(std::string& error, orbisan::ipcapture::IMediaSampleAllocator* allocator = nullptr);
  void Close();
  orbisan::ipcapture::IIPCaptureDriverEx5* Driver() const { return driver_; }
  StderrLog& Log() { return log_; }

 private:
  const HostOptions& options_;
  DriverModule module_;
  HostSetup setup_;
  StderrLog log_;
  orbisan::ipcapture::IIPCaptureDriverEx5* driver_ = nullptr;
};

}  // namespace strandline::host
