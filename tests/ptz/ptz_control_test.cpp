// The host's PTZ interfaces: the handler's controls and preset file, and the
// control's argument checks, stop rules and name buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "ptz/acti_ptz_control.h"
#include "ptz/acti_ptz_handler.h"
#include "ptz/recording_ptz_comm.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

// A control whose camera is a recording command object.
class RecordingControl : public CBasePTZControl {
 public:
  using CBasePTZControl::CBasePTZControl;
  ~RecordingControl() override { Close(); }
  CBasePTZComm* CreatePTZComm() override { return new RecordingPTZComm(Driver(), 0); }
  std::vector<std::string> Sent() {
    auto* comm = static_cast<RecordingPTZComm*>(Comm());
    EXPECT_TRUE(comm->WaitIdle(10000));
    return comm->Commands();
  }
};

class PTZHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_.hostDirectory = dir_.Path();
    driver_.channelCount = 2;
    driver_.parameters = {{6, "1"}, {9, "00:0f:7c:0a:1b:2c"}};
    // Nothing listens on this port: URL commands fail fast, presets report failure.
    driver_.info.port = 1;
  }

  TestDriver driver_;
  ScratchDir dir_{"ptz_handler_test"};
};

TEST_F(PTZHandlerTest, OneControlPerChannelFromAnyThread) {
  CActiPTZHandler handler(&driver_, 2, "ACTi");
  EXPECT_EQ(handler.GetPTZApiEx(2), nullptr);
  ipcapture::IIPPTZApi* seen[4] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { seen[i] = handler.GetPTZApiEx(1); });
  for (auto& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (auto* api : seen) EXPECT_EQ(api, seen[0]);
  EXPECT_EQ(handler.GetPTZApi(1), seen[0]);
  EXPECT_NE(handler.GetPTZApiEx(0), seen[0]);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("ACTi_000F7C0A1B2C.preset")));
  driver_.parameters[6] = "0";
  EXPECT_NE(CActiPTZHandler(&driver_, 1, "ACTi").GetPTZApiEx(0), nullptr) << "serial-port heads have a control too";
}

TEST_F(PTZHandlerTest, FileNameFromTheMacAndTheBrand) {
  struct Case {
    const char* mac;
    const char* brand;
    const char* file;  // null: no file, no control
  } cases[] = {
      {"00:0f:7c:0a:1b:2c", "ACTi", "ACTi_000F7C0A1B2C.preset"},
      {"00-0F-7C-0A-1B-2C", "ACTi", "ACTi_000F7C0A1B2C.preset"},
      {"00:0f:7c:0a:1b:2c", "Vido", "Vido_000F7C0A1B2C.preset"},
      {"None", "ACTi", nullptr},
      {"::--", "ACTi", nullptr},
      {"00:11:none", "ACTi", nullptr},
  };
  for (const Case& c : cases) {
    driver_.parameters[9] = c.mac;
    driver_.ClearLines();
    CActiPTZHandler handler(&driver_, 1, c.brand);
    std::string file;
    EXPECT_EQ(handler.GenerateXMLStorageFileName(file), c.file != nullptr) << c.mac;
    ipcapture::IIPPTZApi* api = handler.GetPTZApiEx(0);
    if (c.file == nullptr) {
      EXPECT_EQ(api, nullptr) << c.mac;
      EXPECT_FALSE(driver_.LinesWith("cannot retrieve MAC address from camera 127.0.0.1:1").empty());
      continue;
    }
    EXPECT_EQ(file, c.file);
    ASSERT_NE(api, nullptr);
    EXPECT_NE(dir_.Read(c.file).find(std::string("<") + c.brand + " />"), std::string::npos) << "root named by brand";
  }
}

TEST_F(PTZHandlerTest, ControlChecksAndStops) {
  RecordingControl control(&driver_, 0, false);
  EXPECT_EQ(control.Move(0, 1), -18) << "not open";
  EXPECT_EQ(control.Stop(), -18);
  ASSERT_TRUE(control.Open());
  EXPECT_EQ(control.Move(10, 5), -3);
  EXPECT_EQ(control.Stop(), 1) << "nothing to stop";
  EXPECT_EQ(control.Move(8, 16), 1);
  EXPECT_EQ(control.Stop(), 1);
  control.Sent();  // a burst beyond the queue limit would drop the oldest
  EXPECT_EQ(control.FocusFar(3), 1);
  EXPECT_EQ(control.Move(2, 16), 1);
  EXPECT_EQ(control.IrisOpen(3), 1);
  EXPECT_EQ(control.Stop(), 1);
  EXPECT_EQ(control.Sent(), (std::vector<std::string>{"ZOOM=TELE,7", "ZOOM=STOP", "FOCUS=FAR", "MOVE=UP,5", "MOVE=STOP",
                                                      "FOCUS=STOP"}));
  EXPECT_TRUE(control.QueryOption(3));
  EXPECT_FALSE(control.QueryOption(0));
}

TEST_F(PTZHandlerTest, CloseCutsShortAPresetRequestTheCameraNeverAnswers) {
  SilentListener camera;
  driver_.info.port = camera.Port();
  driver_.info.connectTimeoutMs = 60000;
  CActiPTZControl control(&driver_, 0, false);
  ASSERT_TRUE(control.Open());
  std::thread host([&] { EXPECT_EQ(control.AddPreset("A"), -18); });
  ASSERT_TRUE(WaitUntil([&] { return camera.Connected(); }));
  const auto start = std::chrono::steady_clock::now();
  control.Close();
  host.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "waited for the camera";
}

TEST_F(PTZHandlerTest, PresetNamesAndCapabilities) {
  RecordingControl control(&driver_, 0, false);
  ASSERT_TRUE(control.Open());
  char buffer[16];
  EXPECT_EQ(control.GetPresetName(0, buffer, sizeof buffer), -23);
  EXPECT_EQ(control.AddPreset(nullptr), -3);
  ASSERT_EQ(control.AddPreset("Gate"), 1);
  EXPECT_EQ(control.GetPresetName(0, buffer, 4), -3) << "no room for the terminating zero";
  EXPECT_EQ(control.GetPresetName(0, nullptr, 16), -3);
  ASSERT_EQ(control.GetCurrentPresetName(buffer, 5), 1);
  EXPECT_STREQ(buffer, "Gate");
  EXPECT_EQ(control.Move(0, 1), 1);
  EXPECT_EQ(control.GetCurrentPresetName(buffer, 5), -23) << "a move leaves the preset";
  EXPECT_EQ(control.GoToPreset(0, "Dock"), -23);
  ipcapture::PTZ_CAPABILITIES caps;
  EXPECT_EQ(control.GetCapabilities(nullptr), -3);
  ASSERT_EQ(control.GetCapabilities(&caps), 1);
  EXPECT_EQ(caps.fields[8], 1u) << "the stored preset count";
  EXPECT_EQ(control.RemovePreset("Gate"), 1);
  EXPECT_EQ(control.RemovePreset("Gate"), -23);
}

}  // namespace
}  // namespace orbisan::test
