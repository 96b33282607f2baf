#include <cstdio>

#include "host/commands.h"

#if defined(STRANDLINE_HAVE_SIM)
#include "sim/simulate_command.h"
#endif

namespace strandline::host {

int RunRecord(const std::vector<std::string>&) {
  std::fprintf(stderr, "strandline record: streaming is not built yet\n");
  return 1;
}

int RunDemo(const std::vector<std::string>&) {
  std::fprintf(stderr, "strandline demo: streaming is not built yet\n");
  return 1;
}

int RunSimulate(int argc, char** argv) {
#if defined(STRANDLINE_HAVE_SIM)
  return strandline::sim::RunSimulateCommand(argc, argv);
#else
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "strandline simulate: this build has no simulated camera\n");
  return 1;
#endif
}

}  // namespace strandline::host
