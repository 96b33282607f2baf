#pragma once

// One simulated camera and the camera family's driver object opened for it
// in this process, with the host objects a recorder would hand over.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/acti_ip_capture_driver.h"
#include "sim/simulated_camera.h"
#include "support/temp_dir.h"
#include "support/test_capture_setup.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

namespace orbisan::test {

class Rig {
 public:
  explicit Rig(const std::string& model = "TCM5311", const std::string& config = "", uint16_t multicastPort = 0) {
    strandline::sim::SimulatedCamera::Options options;
    options.model = model;
    options.multicast_port = multicastPort;
    options.clock_overlay = false;
    camera = std::make_unique<strandline::sim::SimulatedCamera>(options);
    std::string error;
    started = camera->Start(&error);
    EXPECT_TRUE(started) << error;
    if (!config.empty()) {
      scratch.Write("config.xml", config);
      ::setenv("STRANDLINE_CONFIG", scratch.File("config.xml").c_str(), 1);
    } else {
      ::unsetenv("STRANDLINE_CONFIG");
    }
    PointAt(model, camera->HttpPort(), camera->RtspPort());
  }
  // For a camera elsewhere (another process) listening at these ports.
  Rig(const std::string& model, uint16_t httpPort, uint16_t rtspPort) : started(httpPort != 0) {
    ::unsetenv("STRANDLINE_CONFIG");
    PointAt(model, httpPort, rtspPort);
  }
  ~Rig() {
    Close();
    if (camera) camera->Stop();
    ::unsetenv("STRANDLINE_CONFIG");
  }
  void PointAt(const std::string& model, uint16_t httpPort, uint16_t rtspPort) {
    setup.model = model;
    setup.port = httpPort;
    setup.params[5] = "1";
    setup.params[7] = std::to_string(rtspPort);
  }
  bool Open(uint32_t connectMs = 3000, uint32_t signalMs = 6000) {
    driver = std::make_unique<CActiIPCaptureDriver>();
    if (!driver->Open(&log, &allocator, &setup)) return false;
    driver->GetDeviceInfo()->connectTimeoutMs = connectMs;
    driver->GetDeviceInfo()->signalTimeoutMs = signalMs;
    capture = driver->GetVideoCaptureEx2();
    return capture != nullptr;
  }
  void Close() {
    if (driver) driver->Close();
    driver.reset();
    capture = nullptr;
  }
  bool WaitFrames(size_t count, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return sink.FrameCount() >= count; }, limit);
  }

  std::unique_ptr<strandline::sim::SimulatedCamera> camera;
  bool started = false;
  ScratchDir scratch;
  TestCaptureSetup setup;
  TestLog log;
  TestAllocator allocator;
  TestSink sink;
  std::unique_ptr<CActiIPCaptureDriver> driver;
  ipcapture::IIPVideoCaptureEx2* capture = nullptr;
};

}  // namespace orbisan::test
