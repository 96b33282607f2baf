// PTZ through the exported driver against the simulated speed dome: what the
// head does, what the camera was sent, and presets across driver objects.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <thread>

#include "sim/simulated_camera.h"
#include "strandline/ptz.h"
#include "support/temp_dir.h"
#include "support/test_capture_setup.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

using strandline::sim::SimulatedCamera;
using Commands = std::vector<std::string>;

// Generous: the camera and the driver's worker run on a busy machine.
bool WaitFor(const std::function<bool()>& condition) { return WaitUntil(condition, std::chrono::seconds(20)); }

class PtzSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(module_.Loaded());
    SimulatedCamera::Options options;
    options.model = "SED2300";
    camera_ = std::make_unique<SimulatedCamera>(options);
    std::string error;
    ASSERT_TRUE(camera_->Start(&error)) << error;
    ::setenv("STRANDLINE_HOST_DIR", dir_.Path().c_str(), 1);
    setup_.model = "SED2300";
    setup_.port = camera_->HttpPort();
    setup_.params = {{6, "1"}, {9, "00:0F:7C:00:23:00"}};
  }
  void TearDown() override {
    CloseDriver();
    ::unsetenv("STRANDLINE_HOST_DIR");
  }

  ipcapture::IIPPTZApi* OpenDriver() {
    driver_ = module_.Create();
    if (driver_ == nullptr || !driver_->Open(nullptr, nullptr, &setup_)) return nullptr;
    ipcapture::IIPPTZDriverEx* ptz = driver_->GetPTZDriverEx();
    return ptz ? ptz->GetPTZApiEx(0) : nullptr;
  }
  void CloseDriver() {
    if (driver_ == nullptr) return;
    driver_->Close();
    module_.Delete(driver_);
    driver_ = nullptr;
  }
  // The PTZ items the camera was sent, without the login.
  Commands Received() {
    Commands out;
    for (const auto& request : camera_->CgiRequests()) {
      const size_t at = request.query.find('&', request.query.find("PWD="));
      if (request.path == "/cgi-bin/encoder" && at != std::string::npos) out.push_back(request.query.substr(at + 1));
    }
    return out;
  }

  DriverModule module_{STRANDLINE_DRIVER_PATH};
  ScratchDir dir_{"ptz_session"};
  std::unique_ptr<SimulatedCamera> camera_;
  TestCaptureSetup setup_;
  ipcapture::IIPCaptureDriverEx5* driver_ = nullptr;
};

TEST_F(PtzSessionTest, OperatorSessionMovesTheHeadAndSendsTheExpectedCommands) {
  ipcapture::IIPPTZApi* api = OpenDriver();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->Move(ipcapture::kPtzLeft, 16), 1);
  ASSERT_TRUE(WaitFor([&] { return camera_->Ptz().moving; }));
  EXPECT_EQ(api->Stop(), 1);
  EXPECT_EQ(api->ZoomIn(16), 1);
  ASSERT_TRUE(WaitFor([&] { return camera_->Ptz().zooming; }));
  EXPECT_EQ(api->Stop(), 1);
  EXPECT_EQ(api->AddPreset("Gate"), 1);
  const auto gate = camera_->Ptz();
  EXPECT_FALSE(gate.moving || gate.zooming) << "the save follows the stops posted before it";
  EXPECT_LT(gate.position.pan, 0);
  EXPECT_GT(gate.position.zoom, 1);
  EXPECT_EQ(api->Move(ipcapture::kPtzRight, 16), 1);
  ASSERT_TRUE(WaitFor([&] { return camera_->Ptz().position.pan > gate.position.pan; }));
  EXPECT_EQ(api->Stop(), 1);
  EXPECT_EQ(api->GoToPreset(0, "Gate"), 1);
  EXPECT_EQ(api->RemovePreset("Gate"), 1);

  const auto head = camera_->Ptz();
  EXPECT_FALSE(head.moving || head.zooming);
  EXPECT_EQ(head.position.pan, gate.position.pan);
  EXPECT_EQ(head.position.zoom, gate.position.zoom);
  EXPECT_EQ(head.preset_gos, 1);
  EXPECT_TRUE(head.presets.empty());
  EXPECT_EQ(Received(), (Commands{"MOVE=LEFT,5", "MOVE=STOP", "ZOOM=TELE,7", "ZOOM=STOP",
                                  "PTZ_PRESET_SET=1,1,0,0,65535,5,5,7,10,preset1", "MOVE=RIGHT,5", "MOVE=STOP",
                                  "PTZ_PRESET_GO=1", "PTZ_PRESET_SET=1,0,0,0,65535,5,5,7,10,preset1"}));
}

TEST_F(PtzSessionTest, NeitherMovesNorCloseWaitForACameraThatStoppedAnswering) {
  setup_.params[5] = "0";  // camera group 0: a silent camera is given up only after 10 s
  ipcapture::IIPPTZApi* api = OpenDriver();
  ASSERT_NE(api, nullptr);
  camera_->HoldPtzCommands(true);  // answers only after 30 s
  std::thread preset([&] { api->AddPreset("Gate"); });
  ASSERT_TRUE(WaitFor([&] { return camera_->Ptz().held == 1; }));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(api->Move(ipcapture::kPtzLeft, 16), 1) << "while a preset request waits for the camera";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  camera_->HoldPtzCommands(false);
  preset.join();
  camera_->HoldPtzCommands(true);
  ASSERT_EQ(api->Move(ipcapture::kPtzRight, 16), 1);
  ASSERT_TRUE(WaitFor([&] { return camera_->Ptz().held == 1; }));
  start = std::chrono::steady_clock::now();
  CloseDriver();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  camera_->HoldPtzCommands(false);
}

}  // namespace
}  // namespace orbisan::test
