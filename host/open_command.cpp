#include <cstdio>
#include <cstdlib>

#include "host/commands.h"
#include "host/driver_module.h"
#include "host/host_options.h"
#include "host/host_session.h"
#include "host/host_setup.h"

namespace strandline::host {

int RunOpen(const std::vector<std::string>& args) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(args, options, error)) {
    std::fprintf(stderr, "strandline open: %s\n", error.c_str());
    return 2;
  }
  HostSession session(options);
  if (!session.Open(error)) {
    std::fprintf(stderr, "strandline open: %s\n", error.c_str());
    return 1;
  }
  session.Close();
  std::printf("opened=1 address=%s:%u\n", options.address.c_str(), static_cast<unsigned>(options.port));
  return 0;
}

}  // namespace strandline::host
