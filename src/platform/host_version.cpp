#include "platform/host_version.h"

#include <dlfcn.h>

namespace orbisan {

namespace {

// int basalt_product_version(uint16_t out[4]): non-zero when out was filled.
using ProductVersionFn = int (*)(uint16_t*);

bool Query(void* symbol, HostVersion& out) {
  if (symbol == nullptr) return false;
  uint16_t words[4] = {0, 0, 0, 0};
  if (reinterpret_cast<ProductVersionFn>(symbol)(words) == 0) return false;
  out = {words[0], words[1], words[2], words[3]};
  return true;
}

}  // namespace

HostVersion ReadHostVersion() {
  HostVersion version{5, 12, 0, 0};
  if (Query(::dlsym(RTLD_DEFAULT, "basalt_product_version"), version)) return version;
  void* module = ::dlopen("libbasalt.so", RTLD_NOW | RTLD_LOCAL);
  if (module != nullptr) {
    HostVersion found{5, 12, 0, 0};
    if (Query(::dlsym(module, "basalt_product_version"), found)) version = found;
    ::dlclose(module);
  }
  return version;
}

}  // namespace orbisan
