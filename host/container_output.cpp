#include "host/container_output.h"

#include <dlfcn.h>

#include "host/driver_module.h"

namespace strandline::host {

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool WantsContainer(const std::string& path) { return EndsWith(path, ".mkv") || EndsWith(path, ".mp4"); }

std::unique_ptr<IContainerOutput> LoadContainerOutput(std::string& error) {
  // Loaded once and kept: the process writes containers until it ends.
  static void* handle = nullptr;
  const std::string file = DriverModule::LibraryPath("libstrandline_mux.so");
  if (handle == nullptr) handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  using CreateFn = IContainerOutput* (*)();
  auto create = handle ? reinterpret_cast<CreateFn>(::dlsym(handle, "strandline_new_container_output")) : nullptr;
  if (create == nullptr) {
    const char* why = ::dlerror();
    error = "cannot load the container writer " + file + ": " + (why ? why : "unknown error");
    return nullptr;
  }
  return std::unique_ptr<IContainerOutput>(create());
}

}  // namespace strandline::host
