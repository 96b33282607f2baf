// The video server's serial ports: checked Pelco-D bytes reach the dome of
// the selected channel only; anything else is answered ERROR.
#include <gtest/gtest.h>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"

namespace {

TEST(SerialPortTest, ValidMessagesMoveTheSelectedDomeOnly) {
  strandline::sim::SimulatedCamera camera(simtest::OptionsFor("ACD2400"));
  ASSERT_TRUE(camera.Start());
  const std::pair<std::string, bool> cases[] = {
      {"encoder?USER=admin&PWD=admin&CHANNEL=2&SERIAL_HEX=FF010004200025", true},    // left at 32
      {"mpeg4?USER=admin&PWD=admin&CHANNEL=3&SERIAL_HEX=ff010003000509", true},      // save preset 5
      {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FF010002200024", false},   // checksum off by one
      {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FF0100022000230", false},  // 15 digits
      {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FE010002200023", false},   // no sync byte
      {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FF010006200027", false},   // left and right
      {"encoder?USER=admin&PWD=admin&CHANNEL=5&SERIAL_HEX=FF010004200025", false},   // no such port
  };
  for (const auto& [query, accepted] : cases) {
    const std::string body = simtest::HttpGet(camera.HttpUrl() + "/cgi-bin/" + query).body;
    EXPECT_EQ(body.rfind(accepted ? "OK: SERIAL_HEX=" : "ERROR", 0), 0u) << query << " -> " << body;
  }
  EXPECT_EQ(camera.SerialDome(2).pan_direction * camera.SerialDome(2).pan_speed, -32);
  EXPECT_EQ(camera.SerialDome(3).presets.count(5), 1u);
  EXPECT_TRUE(camera.SerialDome(1).received.empty());
  EXPECT_TRUE(camera.SerialDome(4).received.empty()) << "refused messages reach no dome";
}

}  // namespace
