#include "host/driver_module.h"

#include <dlfcn.h>
#include <unistd.h>

namespace strandline::host {

DriverModule::~DriverModule() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

std::string DriverModule::DefaultPath() { return LibraryPath("libstrandline.so"); }

std::string DriverModule::LibraryPath(const std::string& file) {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return file;
  std::string exe(buffer, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : exe.substr(0, slash);
  return dir + "/../lib/" + file;
}

bool DriverModule::Load(const std::string& path, std::string& error) {
  const std::string file = path.empty() ? DefaultPath() : path;
  handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = ::dlerror();
    error = "cannot load driver " + file + ": " + (why ? why : "unknown error");
    return false;
  }
  create_ = reinterpret_cast<StrandlineCreateFn>(::dlsym(handle_, "CreateIPCaptureEx5"));
  delete_ = reinterpret_cast<StrandlineDeleteFn>(::dlsym(handle_, "DeleteIPCaptureEx5"));
  if (create_ == nullptr || delete_ == nullptr) {
    error = "driver " + file + " lacks CreateIPCaptureEx5/DeleteIPCaptureEx5";
    return false;
  }
  return true;
}

}  // namespace strandline::host
