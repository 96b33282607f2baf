// The simulated PTZ head: which models take PTZ commands, what they refuse,
// and the position the in-process API reports.
#include "sim/ptz_head.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"

namespace {

using simtest::HttpGet;
using ::strandline::sim::PtzHead;
using ::strandline::sim::SimulatedCamera;
using ::testing::HasSubstr;

TEST(PtzHeadTest, OnlyPtzModelsTakeCommands) {
  for (const char* model : {"SED2300", "TCM5311"}) {
    SimulatedCamera::Options options;
    options.model = model;
    SimulatedCamera camera(options);
    ASSERT_TRUE(camera.Start());
    const std::string body =
        HttpGet(camera.HttpUrl() + "/cgi-bin/encoder?USER=admin&PWD=admin&MOVE=LEFT,3&PTZ_PRESET_SET=1,1,0,0").body;
    if (std::string(model) == "SED2300") {
      EXPECT_EQ(body, "OK: MOVE=LEFT,3\r\nOK: PTZ_PRESET_SET=1,1,0,0\r\n");
      EXPECT_TRUE(camera.Ptz().moving);
      EXPECT_EQ(camera.Ptz().presets.size(), 1u);
    } else {
      EXPECT_THAT(body, HasSubstr("ERROR: MOVE=LEFT,3"));
      EXPECT_FALSE(camera.Ptz().moving);
    }
  }
}

TEST(PtzHeadTest, CommandsAndRefusals) {
  PtzHead head;
  for (auto [name, value] : std::vector<std::pair<const char*, const char*>>{{"MOVE", "LEFT,6"},
                                                                             {"MOVE", "UPLEFT,3"},
                                                                             {"MOVE", "UPLEFT,3,4"},
                                                                             {"MOVE", "SIDEWAYS,1"},
                                                                             {"ZOOM", "TELE,8"},
                                                                             {"ZOOM", "TELE"},
                                                                             {"FOCUS", "SHARP"},
                                                                             {"PTZ_PRESET_GO", "4"},
                                                                             {"PTZ_PRESET_SET", "0,1"},
                                                                             {"PTZ_PRESET_SET", "129,1"},
                                                                             {"PTZ_PRESET_SET", "1,2"}}) {
    EXPECT_FALSE(head.Apply(name, value)) << name << "=" << value;
  }
  ASSERT_TRUE(head.Apply("MOVE", "DOWNRIGHT,2,2"));
  auto state = head.State();
  EXPECT_TRUE(state.moving);
  EXPECT_EQ(state.pan_direction, 1);
  EXPECT_EQ(state.tilt_direction, -1);
  ASSERT_TRUE(head.Apply("MOVE", "STOP"));
  ASSERT_TRUE(head.Apply("ZOOM", "DIRECT,1000"));
  ASSERT_TRUE(head.Apply("PTZ_PRESET_SET", "7,1,0,0,65535,5,5,7,10,preset7"));
  ASSERT_TRUE(head.Apply("ZOOM", "DIRECT,0"));
  ASSERT_TRUE(head.Apply("PTZ_PRESET_GO", "7"));
  state = head.State();
  EXPECT_FALSE(state.moving);
  EXPECT_EQ(state.position.zoom, PtzHead::kMaxZoom);
  EXPECT_GT(state.position.pan, 0);
  EXPECT_LT(state.position.tilt, 0);
  ASSERT_TRUE(head.Apply("PTZ_PRESET_SET", "7,0,0,0"));
  EXPECT_FALSE(head.Apply("PTZ_PRESET_GO", "7"));
}

}  // namespace
