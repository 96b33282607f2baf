// The simulated camera's I/O register and motion message stream as a client
// sees them over HTTP.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"

using strandline::sim::SimulatedCamera;

namespace {

TEST(SimDio, RegisterAnswersPerChannelAndRefusesBadMasks) {
  SimulatedCamera::Options options;
  options.model = "ACD2400";  // four channels
  SimulatedCamera camera(options);
  ASSERT_TRUE(camera.Start());
  camera.SetDigitalInputs(0x05, 3);
  const std::string base = camera.HttpUrl() + "/cgi-bin/";
  const struct {
    std::string query;
    std::string answer;
  } cases[] = {
      {"encoder?USER=admin&PWD=admin&CHANNEL=3&DIO_STATUS", "DIO_STATUS='0x05'\r\n"},
      {"mpeg4?USER=admin&PWD=admin&DIO_STATUS", "DIO_STATUS='0x00'\r\n"},
      {"encoder?USER=admin&PWD=admin&CHANNEL=2&DIO_OUTPUT=0x03", "OK: DIO_OUTPUT=0x03\r\n"},
      {"encoder?USER=admin&PWD=admin&CHANNEL=2&DIO_OUTPUT", "DIO_OUTPUT='0x03'\r\n"},
      {"encoder?USER=admin&PWD=admin&DIO_OUTPUT=3", "ERROR: DIO_OUTPUT=3\r\n"},
      {"encoder?USER=admin&PWD=admin&DIO_OUTPUT=0x1ff", "ERROR: DIO_OUTPUT=0x1ff\r\n"},
      {"system?USER=admin&PWD=admin&DIO_STATUS", "ERROR: DIO_STATUS\r\n"},
  };
  for (const auto& c : cases) {
    const simtest::HttpResult result = simtest::HttpGet(base + c.query);
    EXPECT_EQ(result.status, 200) << c.query;
    EXPECT_EQ(result.body, c.answer) << c.query;
  }
  EXPECT_EQ(camera.DigitalOutputs(2), 0x03u);
  EXPECT_EQ(camera.DigitalOutputs(1), 0x00u);
}

TEST(SimMotion, StreamCarriesLevelsAndEndsOnADrop) {
  SimulatedCamera camera;
  ASSERT_TRUE(camera.Start());
  camera.Motion().SetLevels(42, 20);
  camera.Motion().SetInterval(std::chrono::milliseconds(50));
  // The stream never ends by itself: a drop after some parts ends this read.
  std::thread dropper([&] {
    for (int i = 0; i < 1000 && camera.Motion().PartsSent() < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    camera.Motion().DropConnections();
  });
  const simtest::HttpResult result =
      simtest::HttpGet(camera.HttpUrl() + "/cgi-bin/encoder?USER=admin&PWD=admin&GET_CTRL_MSG=MD,3");
  dropper.join();
  EXPECT_NE(result.headers.find("multipart/x-mixed-replace;boundary=motion"), std::string::npos);
  ASSERT_GE(result.body.size(), 10u);
  EXPECT_EQ(result.body.substr(0, 10), "--motion\r\n");
  EXPECT_NE(result.body.find("level=42;threshold=20\r\n--motion\r\n"), std::string::npos);
  EXPECT_EQ(camera.Motion().OpenStreams(), 0);
}

}  // namespace
