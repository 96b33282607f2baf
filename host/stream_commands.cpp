#include <cstdio>
#include <string>

#include "host/commands.h"
#include "host/record_command.h"
#include "src/device/host_parameter.h"

#if defined(STRANDLINE_HAVE_SIM)
#include "sim/simulate_command.h"
#include "sim/simulated_camera.h"
#endif

namespace strandline::host {

int RunDemo(const std::vector<std::string>& args) {
#if defined(STRANDLINE_HAVE_SIM)
  // Only the stream options make sense here; the device is the simulator.
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(args, options, error)) {
    std::fprintf(stderr, "strandline demo: %s\n", error.c_str());
    return 2;
  }
  strandline::sim::SimulatedCamera::Options cameraOptions;
  strandline::sim::SimulatedCamera camera(cameraOptions);
  if (!camera.Start(&error)) {
    std::fprintf(stderr, "strandline demo: the simulated camera did not start: %s\n", error.c_str());
    return 1;
  }
  options.address = "127.0.0.1";
  options.port = camera.HttpPort();
  options.user = cameraOptions.user;
  options.password = cameraOptions.password;
  options.model = cameraOptions.model;
  options.params[orbisan::kParamRtspPorts] = std::to_string(camera.RtspPort());
  if (options.out.empty()) {
    options.out = options.codec == 1 ? "demo.mjpeg" : options.codec == 2 ? "demo.m4v" : "demo.h264";
  }
  std::fprintf(stderr, "strandline demo: simulated camera %s at %s, RTSP %s; recording %.0f s into %s\n",
               cameraOptions.model.c_str(), camera.HttpUrl().c_str(), camera.RtspUrl().c_str(), options.durationSeconds,
               options.out.c_str());
  const int result = RecordStream(options);
  camera.Stop();
  return result;
#else
  (void)args;
  std::fprintf(stderr, "strandline demo: this build has no simulated camera\n");
  return 1;
#endif
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
