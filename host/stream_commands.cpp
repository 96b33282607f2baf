#include <cstdio>
#include <string>

#include "host/commands.h"
#include "host/record_command.h"
#include "host/simulator_module.h"
#include "src/device/host_parameter.h"

namespace strandline::host {

int RunDemo(const std::vector<std::string>& args) {
  // Only the stream options make sense here; the device is the simulator.
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(args, options, error)) {
    std::fprintf(stderr, "strandline demo: %s\n", error.c_str());
    return 2;
  }
  ISimulatorModule* simulator = LoadSimulatorModule(error);
  if (simulator == nullptr) {
    std::fprintf(stderr, "strandline demo: %s\n", error.c_str());
    return 1;
  }
  SimulatedCameraInfo camera;
  if (!simulator->StartCamera(camera, error)) {
    std::fprintf(stderr, "strandline demo: the simulated camera did not start: %s\n", error.c_str());
    return 1;
  }
  options.address = "127.0.0.1";
  options.port = camera.httpPort;
  options.user = camera.user;
  options.password = camera.password;
  options.model = camera.model;
  options.params[orbisan::kParamRtspPorts] = std::to_string(camera.rtspPort);
  if (options.out.empty()) {
    options.out = options.codec == 1 ? "demo.mjpeg" : options.codec == 2 ? "demo.m4v" : "demo.h264";
  }
  std::fprintf(stderr, "strandline demo: simulated camera %s at %s, RTSP %s; recording %.0f s into %s\n",
               camera.model.c_str(), camera.httpUrl.c_str(), camera.rtspUrl.c_str(), options.durationSeconds,
               options.out.c_str());
  const int result = RecordStream(options);
  simulator->StopCamera();
  return result;
}

int RunSimulate(int argc, char** argv) {
  std::string error;
  ISimulatorModule* simulator = LoadSimulatorModule(error);
  if (simulator == nullptr) {
    std::fprintf(stderr, "strandline simulate: %s\n", error.c_str());
    return 1;
  }
  return simulator->Simulate(argc, argv);
}

}  // namespace strandline::host
