#pragma once

#include <cstdint>
#include <string>

namespace strandline::host {

// The simulated camera as the demo and simulate commands see it. It lives in
// its own module (libstrandline_simcmd.so) so that commands that talk to a
// real camera never load GStreamer and the web server.
struct SimulatedCameraInfo {
  uint16_t httpPort = 0;
  uint16_t rtspPort = 0;
  std::string user;
  std::string password;
  std::string model;
  std::string httpUrl;
  std::string rtspUrl;
};

class ISimulatorModule {
 public:
  virtual ~ISimulatorModule() = default;
  // The simulate command: runs the camera until interrupted.
  virtual int Simulate(int argc, char** argv) = 0;
  // A camera with the default options on free loopback ports, for the demo.
  virtual bool StartCamera(SimulatedCameraInfo& info, std::string& error) = 0;
  virtual void StopCamera() = 0;
};

// Null, with the reason in error, when this build or install has no simulator.
ISimulatorModule* LoadSimulatorModule(std::string& error);

}  // namespace strandline::host
