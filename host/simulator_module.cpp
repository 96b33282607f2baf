#include "host/simulator_module.h"

#include <dlfcn.h>

#include "host/driver_module.h"

namespace strandline::host {

ISimulatorModule* LoadSimulatorModule(std::string& error) {
  // Loaded once and kept for the life of the process.
  static void* handle = nullptr;
  const std::string file = DriverModule::LibraryPath("libstrandline_simcmd.so");
  if (handle == nullptr) handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  using GetFn = ISimulatorModule* (*)();
  auto get = handle ? reinterpret_cast<GetFn>(::dlsym(handle, "strandline_simulator_module")) : nullptr;
  if (get == nullptr) {
    const char* why = ::dlerror();
    error = "this build has no simulated camera (" + file + ": " + (why ? why : "unknown error") + ")";
    return nullptr;
  }
  return get();
}

}  // namespace strandline::host
