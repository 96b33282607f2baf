// The simulator module behind the demo and simulate commands.
#include <memory>

#include "host/simulator_module.h"
#include "sim/simulate_command.h"
#include "sim/simulated_camera.h"

namespace strandline::host {
namespace {

class SimulatorModule : public ISimulatorModule {
 public:
  int Simulate(int argc, char** argv) override { return strandline::sim::RunSimulateCommand(argc, argv); }

  bool StartCamera(SimulatedCameraInfo& info, std::string& error) override {
    strandline::sim::SimulatedCamera::Options options;
    camera_ = std::make_unique<strandline::sim::SimulatedCamera>(options);
    if (!camera_->Start(&error)) {
      camera_.reset();
      return false;
    }
    info.httpPort = camera_->HttpPort();
    info.rtspPort = camera_->RtspPort();
    info.user = options.user;
    info.password = options.password;
    info.model = options.model;
    info.httpUrl = camera_->HttpUrl();
    info.rtspUrl = camera_->RtspUrl();
    return true;
  }

  void StopCamera() override {
    if (camera_) camera_->Stop();
    camera_.reset();
  }

 private:
  std::unique_ptr<strandline::sim::SimulatedCamera> camera_;
};

}  // namespace
}  // namespace strandline::host

extern "C" __attribute__((visibility("default"))) strandline::host::ISimulatorModule* strandline_simulator_module() {
  static strandline::host::SimulatorModule module;
  return &module;
}
