// The simulated PTZ head: only PTZ models take the commands.
#include <gtest/gtest.h>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"

namespace {

using ::strandline::sim::SimulatedCamera;

TEST(PtzHeadTest, PtzModelsTakeCommandsOthersAnswerError) {
  for (const char* model : {"SED2300", "TCM5311"}) {
    SimulatedCamera camera(simtest::OptionsFor(model));
    ASSERT_TRUE(camera.Start());
    const bool ptz = std::string(model) == "SED2300";
    const std::string body = simtest::HttpGet(simtest::Cgi(camera, "encoder", "&MOVE=LEFT,3&PTZ_PRESET_SET=1,1")).body;
    EXPECT_EQ(body, ptz ? "OK: MOVE=LEFT,3\r\nOK: PTZ_PRESET_SET=1,1\r\n"
                        : "ERROR: MOVE=LEFT,3\r\nERROR: PTZ_PRESET_SET=1,1\r\n");
    EXPECT_EQ(camera.Ptz().moving, ptz);
    EXPECT_EQ(camera.Ptz().presets.size(), ptz ? 1u : 0u);
  }
}

}  // namespace
