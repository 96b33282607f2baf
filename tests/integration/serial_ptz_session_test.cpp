// `strandline ptz` against the simulated four-input video server whose domes
// hang on its serial ports (--param 6=0: Pelco-D through SERIAL_HEX).
#include <gtest/gtest.h>

#include <tuple>

#include "sim/simulated_camera.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace orbisan::test {
namespace {

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
