#include "host/host_session.h"

#include <csignal>
#include <cstdlib>

namespace strandline::host {

extern bool g_hostVersionSet;
extern uint16_t g_hostVersion[4];

HostSession::HostSession(const HostOptions& options) : options_(options), setup_(options), log_(options.logLevel) {}

HostSession::~HostSession() { Close(); }

bool HostSession::Open(std::string& error, orbisan::ipcapture::IMediaSampleAllocator* allocator) {
  if (options_.hostVersion) {
    for (int i = 0; i < 4; ++i) g_hostVersion[i] = (*options_.hostVersion)[static_cast<size_t>(i)];
    g_hostVersionSet = true;
  }
  // The driver reads its configuration file from this path when it is set.
  if (!options_.configFile.empty()) ::setenv("STRANDLINE_CONFIG", options_.configFile.c_str(), 1);
  if (!module_.Load(options_.driverPath, error)) return false;
  driver_ = module_.Create();
  if (driver_ == nullptr) {
    error = "the driver could not be created";
    return false;
  }
  if (!driver_->Open(&log_, allocator, &setup_)) {
    error = "the driver refused to open the device (see its log above)";
    Close();
    return false;
  }
  return true;
}

void HostSession::Close() {
  if (driver_ == nullptr) return;
  driver_->Close();
  module_.Delete(driver_);
  driver_ = nullptr;
}

void CatchStopSignals(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace strandline::host
