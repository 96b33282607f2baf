#pragma once

#include <string>

#include "strandline/exports.h"

namespace strandline::host {

// libstrandline.so loaded with dlopen; only the exported functions are used.
class DriverModule {
 public:
  DriverModule() = default;
  ~DriverModule();
  DriverModule(const DriverModule&) = delete;
  DriverModule& operator=(const DriverModule&) = delete;

  // path empty: the library in ../lib next to this executable.
  bool Load(const std::string& path, std::string& error);
  orbisan::ipcapture::IIPCaptureDriverEx5* Create() const { return create_ ? create_() : nullptr; }
  void Delete(orbisan::ipcapture::IIPCaptureDriverEx5* driver) const {
    if (delete_) delete_(driver);
  }
  static std::string DefaultPath();
  // A module that lies beside the driver (the lib directory next to bin).
  static std::string LibraryPath(const std::string& file);

 private:
  void* handle_ = nullptr;
  StrandlineCreateFn create_ = nullptr;
  StrandlineDeleteFn delete_ = nullptr;
};

}  // namespace strandline::host
