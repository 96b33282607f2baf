// PTZ through the exported driver against the simulated speed dome: what the
// head does and what the camera was sent; and `strandline ptz` against the
// simulated four-input video server whose domes hang on its serial ports
// (--param 6=0: Pelco-D through SERIAL_HEX).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <thread>
#include <tuple>

#include "sim/simulated_camera.h"
#include "strandline/ptz.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/test_capture_setup.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

using strandline::sim::SimulatedCamera;
using Commands = std::vector<std::string>;
using namespace std::chrono_literals;

// The dome an operator steers, then a camera that stopped answering: neither
// moves nor the close wait for it.
TEST(PtzSession, OperatorSessionMovesTheHeadThenNeitherMovesNorCloseWaitForACameraThatStoppedAnswering) {
  DriverModule module{STRANDLINE_DRIVER_PATH};
  ASSERT_TRUE(module.Loaded());
  SimulatedCamera::Options options;
  options.model = "SED2300";
  SimulatedCamera camera(options);
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;
  ScratchDir dir("ptz_session");
  ::setenv("STRANDLINE_HOST_DIR", dir.Path().c_str(), 1);
  TestCaptureSetup setup;
  setup.model = "SED2300";
  setup.port = camera.HttpPort();
  setup.params = {{6, "1"}, {9, "00:0F:7C:00:23:00"}};
  ipcapture::IIPCaptureDriverEx5* driver = nullptr;
  const auto closeDriver = [&] {
    if (driver == nullptr) return;
    driver->Close();
    module.Delete(driver);
    driver = nullptr;
  };
  // However the test ends, the driver goes before the module and the camera.
  struct Closer {
    std::function<void()> close;
    ~Closer() { close(), ::unsetenv("STRANDLINE_HOST_DIR"); }
  } closer{closeDriver};
  const auto openDriver = [&]() -> ipcapture::IIPPTZApi* {
    driver = module.Create();
    if (driver == nullptr || !driver->Open(nullptr, nullptr, &setup)) return nullptr;
    ipcapture::IIPPTZDriverEx* ptz = driver->GetPTZDriverEx();
    return ptz ? ptz->GetPTZApiEx(0) : nullptr;
  };
  // The PTZ items the camera was sent, without the login.
  const auto received = [&] {
    Commands out;
    for (const auto& request : camera.CgiRequests()) {
      const size_t at = request.query.find('&', request.query.find("PWD="));
      if (request.path == "/cgi-bin/encoder" && at != std::string::npos) out.push_back(request.query.substr(at + 1));
    }
    return out;
  };
  ipcapture::IIPPTZApi* api = openDriver();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->Move(ipcapture::kPtzLeft, 16), 1);
  // Waits of 20 s: the camera and the driver's worker run on a busy machine.
  ASSERT_TRUE(WaitUntil([&] { return camera.Ptz().moving; }, 20s));
  EXPECT_EQ(api->Stop(), 1);
  EXPECT_EQ(api->ZoomIn(16), 1);
  ASSERT_TRUE(WaitUntil([&] { return camera.Ptz().zooming; }, 20s));
  EXPECT_EQ(api->Stop(), 1);
  EXPECT_EQ(api->AddPreset("Gate"), 1);
  const auto gate = camera.Ptz();
  EXPECT_FALSE(gate.moving || gate.zooming) << "the save follows the stops posted before it";
  EXPECT_LT(gate.position.pan, 0);
  EXPECT_GT(gate.position.zoom, 1);
  EXPECT_EQ(api->Move(ipcapture::kPtzRight, 16), 1);
  ASSERT_TRUE(WaitUntil([&] { return camera.Ptz().position.pan > gate.position.pan; }, 20s));
  EXPECT_EQ(api->Stop(), 1);
  EXPECT_EQ(api->GoToPreset(0, "Gate"), 1);
  EXPECT_EQ(api->RemovePreset("Gate"), 1);

  const auto head = camera.Ptz();
  EXPECT_FALSE(head.moving || head.zooming);
  EXPECT_EQ(head.position.pan, gate.position.pan);
  EXPECT_EQ(head.position.zoom, gate.position.zoom);
  EXPECT_EQ(head.preset_gos, 1);
  EXPECT_TRUE(head.presets.empty());
  EXPECT_EQ(received(), (Commands{"MOVE=LEFT,5", "MOVE=STOP", "ZOOM=TELE,7", "ZOOM=STOP",
                                  "PTZ_PRESET_SET=1,1,0,0,65535,5,5,7,10,preset1", "MOVE=RIGHT,5", "MOVE=STOP",
                                  "PTZ_PRESET_GO=1", "PTZ_PRESET_SET=1,0,0,0,65535,5,5,7,10,preset1"}));

  // Neither moves nor the close wait for a camera that stopped answering.
  closeDriver();
  setup.params[5] = "0";  // camera group 0: a silent camera is given up only after 10 s
  api = openDriver();
  ASSERT_NE(api, nullptr);
  camera.HoldPtzCommands(true);  // answers only after 30 s
  std::thread preset([&] { api->AddPreset("Gate"); });
  ASSERT_TRUE(WaitUntil([&] { return camera.Ptz().held == 1; }, 20s));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(api->Move(ipcapture::kPtzLeft, 16), 1) << "while a preset request waits for the camera";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  camera.HoldPtzCommands(false);
  preset.join();
  camera.HoldPtzCommands(true);
  ASSERT_EQ(api->Move(ipcapture::kPtzRight, 16), 1);
  ASSERT_TRUE(WaitUntil([&] { return camera.Ptz().held == 1; }, 20s));
  start = std::chrono::steady_clock::now();
  closeDriver();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  camera.HoldPtzCommands(false);
}

TEST(SerialPtzSession, OperatorSessionsSteerOnlyTheChosenChannelsDome) {
  strandline::sim::SimulatedCamera::Options options;
  options.model = "ACD2400";
  strandline::sim::SimulatedCamera camera(options);
  ASSERT_TRUE(camera.Start());
  ScratchDir dir("serial_ptz_session");
  auto ptz = [&](const std::string& model, uint32_t channel, const std::string& actions, std::string& out) {
    return RunShell(HostLine("ptz", camera.HttpPort()) + " --model '" + model +
                        "' --channels 4 --param 6=0 --param 9=00:0F:7C:00:24:00 --host-dir " + dir.Path() +
                        " --channel " + std::to_string(channel) + " " + actions + " 2>/dev/null",
                    &out);
  };
  std::string out;
  ASSERT_EQ(ptz("ACD2400", 2,
                "move left 16 wait 400 stop zoom in 16 wait 400 stop preset add Gate move upright 12 wait 300 stop "
                "focus near 4 iris open 4 stop preset goto Gate",
                out),
            0)
      << out;
  const auto dome = camera.SerialDome(3);
  ASSERT_EQ(dome.presets.count(1), 1u) << out;
  const auto gate = dome.presets.at(1);
  EXPECT_LT(gate.pan, 0);
  EXPECT_GT(gate.zoom, 1);
  EXPECT_EQ(gate.tilt, 0) << "the save came after the stop";
  EXPECT_EQ(std::tie(dome.position.pan, dome.position.tilt, dome.position.zoom),
            std::tie(gate.pan, gate.tilt, gate.zoom));
  EXPECT_EQ(dome.preset_gos, 1);
  EXPECT_EQ(std::vector<int>({dome.pan_direction, dome.tilt_direction, dome.zoom_direction, dome.focus, dome.iris}),
            std::vector<int>(5, 0));
  for (int other : {1, 2, 4}) EXPECT_TRUE(camera.SerialDome(other).received.empty()) << "channel " << other;

  // A head whose model text holds "vido" stores 128 presets. Each save after
  // a move: a save where the last preset stands only renames it.
  std::string actions;
  for (int n = 1; n <= 129; ++n) actions += " move up 1 preset add P" + std::to_string(n);
  EXPECT_EQ(ptz("ACD2400 vido", 0, actions, out), 1);
  EXPECT_NE(out.find("preset add P128 -> 1\nmove up 1 -> 1\npreset add P129 -> -26\n"), std::string::npos) << out;
  const auto first = camera.SerialDome(1);
  EXPECT_EQ(first.presets.size(), 128u);
  EXPECT_EQ(first.presets.rbegin()->first, 128);
}

}  // namespace
}  // namespace orbisan::test
