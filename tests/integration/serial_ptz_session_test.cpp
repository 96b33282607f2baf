// `strandline ptz` against the simulated four-input video server whose domes
// hang on its serial ports (--param 6=0: Pelco-D through SERIAL_HEX).
#include <gtest/gtest.h>

#include "sim/simulated_camera.h"
#include "support/run_shell.h"
#include "support/temp_dir.h"

namespace orbisan::test {
namespace {

using strandline::sim::SimulatedCamera;

class SerialPtzSession : public ::testing::Test {
 protected:
  void SetUp() override {
    SimulatedCamera::Options options;
    options.model = "ACD2400";
    camera_ = std::make_unique<SimulatedCamera>(options);
    std::string error;
    ASSERT_TRUE(camera_->Start(&error)) << error;
  }
  // Runs the actions on one channel; the exit status, the output in out.
  int Ptz(const std::string& model, uint32_t channel, const std::string& actions, std::string& out) {
    return RunShell(std::string(STRANDLINE_BUILD_DIR) + "/bin/strandline ptz --address 127.0.0.1 --port " +
                        std::to_string(camera_->HttpPort()) + " --user admin --password admin --model '" + model +
                        "' --channels 4 --param 6=0 --param 9=00:0F:7C:00:24:00 --host-dir " + dir_.Path() +
                        " --channel " + std::to_string(channel) + " " + actions + " 2>/dev/null",
                    &out);
  }

  ScratchDir dir_{"serial_ptz_session"};
  std::unique_ptr<SimulatedCamera> camera_;
};

TEST_F(SerialPtzSession, OperatorSessionsSteerOnlyTheChosenChannelsDome) {
  std::string out;
  ASSERT_EQ(Ptz("ACD2400", 2,
                "move left 16 wait 400 stop zoom in 16 wait 400 stop preset add Gate move upright 12 wait 300 stop "
                "focus near 4 iris open 4 stop preset goto Gate",
                out),
            0)
      << out;
  const auto dome = camera_->SerialDome(3);
  ASSERT_EQ(dome.presets.count(1), 1u) << out;
  const auto gate = dome.presets.at(1);
  EXPECT_LT(gate.pan, 0);
  EXPECT_GT(gate.zoom, 1);
  EXPECT_EQ(gate.tilt, 0) << "the save came after the stop";
  EXPECT_EQ(dome.position.pan, gate.pan);
  EXPECT_EQ(dome.position.tilt, gate.tilt);
  EXPECT_EQ(dome.position.zoom, gate.zoom);
  EXPECT_EQ(dome.preset_gos, 1);
  EXPECT_EQ(std::vector<int>({dome.pan_direction, dome.tilt_direction, dome.zoom_direction, dome.focus, dome.iris}),
            std::vector<int>(5, 0));
  for (int other : {1, 2, 4}) EXPECT_TRUE(camera_->SerialDome(other).received.empty()) << "channel " << other;

  // A head whose model text holds "vido" stores 128 presets.
  // Each save after a move: a save where the last preset stands only renames it.
  std::string actions;
  for (int n = 1; n <= 129; ++n) actions += " move up 1 preset add P" + std::to_string(n);
  EXPECT_EQ(Ptz("ACD2400 vido", 0, actions, out), 1);
  EXPECT_NE(out.find("preset add P128 -> 1\nmove up 1 -> 1\npreset add P129 -> -26\n"), std::string::npos) << out;
  const auto first = camera_->SerialDome(1);
  EXPECT_EQ(first.presets.size(), 128u);
  EXPECT_EQ(first.presets.rbegin()->first, 128);
}

}  // namespace
}  // namespace orbisan::test
