// strandline probe: the capability query exports run as a recorder's
// configuration screen runs them, and what they wrote printed.
#include <dlfcn.h>

#include <cstdio>

#include "host/commands.h"
#include "host/driver_module.h"
#include "host/host_options.h"
#include "host/probe_store.h"
#include "strandline/exports.h"

namespace strandline::host {

extern bool g_hostVersionSet;
extern uint16_t g_hostVersion[4];

namespace {

// Identification makes many bounded requests; a query that has not answered
// by then is stopped.
constexpr uint32_t kAnswerWaitMs = 180000;

struct CapabilityExports {
  ~CapabilityExports() {
    if (handle != nullptr) ::dlclose(handle);
  }
  bool Load(const std::string& path, std::string& error) {
    const std::string file = path.empty() ? DriverModule::DefaultPath() : path;
    handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = ::dlerror();
      error = "cannot load driver " + file + ": " + (why ? why : "unknown error");
      return false;
    }
    init = reinterpret_cast<StrandlineInitCapabilityQueryFn>(::dlsym(handle, "InitCapabilityQuery"));
    start = reinterpret_cast<StrandlineStartCapabilityQueryFn>(::dlsym(handle, "StartCapabilityQuery"));
    terminate = reinterpret_cast<StrandlineCapabilityQueryFn>(::dlsym(handle, "TerminateCapabilityQuery"));
    uninit = reinterpret_cast<StrandlineCapabilityQueryFn>(::dlsym(handle, "UninitCapabilityQuery"));
    if (init == nullptr || start == nullptr || terminate == nullptr || uninit == nullptr) {
      error = "driver " + file + " lacks the capability query exports";
      return false;
    }
    return true;
  }

  void* handle = nullptr;
  StrandlineInitCapabilityQueryFn init = nullptr;
  StrandlineStartCapabilityQueryFn start = nullptr;
  StrandlineCapabilityQueryFn terminate = nullptr;
  StrandlineCapabilityQueryFn uninit = nullptr;
};

int Usage(const std::string& message) {
  std::fprintf(stderr,
               "strandline probe: %s\n"
               "usage: strandline probe --address HOST --port N --user U --password P [--host-version A.B.C.D]\n"
               "                        [--driver PATH] [--json | --as-params]\n",
               message.c_str());
  return 2;
}

}  // namespace

int RunProbe(const std::vector<std::string>& args) {
  bool json = false;
  bool asParams = false;
  std::vector<std::string> deviceArgs;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg == "--as-params") {
      asParams = true;
    } else {
      deviceArgs.push_back(arg);
    }
  }
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(deviceArgs, options, error)) return Usage(error);
  if (json && asParams) return Usage("--json and --as-params exclude each other");
  if (options.hostVersion) {
    for (int i = 0; i < 4; ++i) g_hostVersion[i] = (*options.hostVersion)[static_cast<size_t>(i)];
    g_hostVersionSet = true;
  }

  CapabilityExports exports;
  if (!exports.Load(options.driverPath, error)) {
    std::fprintf(stderr, "strandline probe: %s\n", error.c_str());
    return 1;
  }
  ProbeStore store;
  ProbeCallback callback;
  if (exports.init(&callback, 1) == 0) {
    std::fprintf(stderr, "strandline probe: the capability query module could not be created\n");
    return 1;
  }
  if (exports.start(options.address.c_str(), options.port, options.user.c_str(), options.password.c_str(), &store) ==
      0) {
    exports.uninit();
    std::fprintf(stderr, "strandline probe: the capability query did not start\n");
    return 1;
  }
  ProbeCallback::Outcome outcome = callback.Wait(kAnswerWaitMs);
  if (outcome == ProbeCallback::Outcome::kNone) exports.terminate();
  exports.uninit();  // waits for the worker; tells OnTerminated when it had to give up
  outcome = callback.Wait(0);

  if (outcome != ProbeCallback::Outcome::kCompleted) {
    if (outcome == ProbeCallback::Outcome::kFailed) {
      std::fprintf(stderr, "strandline probe: failed, status %u: %s\n", callback.Status(), callback.Message().c_str());
    } else {
      std::fprintf(stderr, "strandline probe: no answer from the capability query\n");
    }
    return 1;
  }
  const std::string out = asParams ? store.Params() : json ? store.Json() : store.Lines();
  std::fputs(out.c_str(), stdout);
  return 0;
}

}  // namespace strandline::host
