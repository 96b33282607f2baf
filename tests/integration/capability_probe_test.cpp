// The capability query end to end: "strandline probe" against the simulated
// camera of every model family, its properties handed back to "strandline
// record" as a recorder would, and a group-2 camera's clock put right.
#include <gtest/gtest.h>

#include <cstdlib>

#include "camera/time_sync.h"
#include "sim/simulated_camera.h"
#include "support/run_command.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

using strandline::sim::SimulatedCamera;
using strandline::sim::VideoCodec;
using namespace std::chrono_literals;

// Every model family's properties make the camera stream what is asked; one
// group-2 camera three hours off is set to UTC first, and the probe's lines
// and JSON are read on another.
TEST(CapabilityProbe, PropertiesOfEveryModelMakeTheCameraStreamWhatIsAsked) {
  struct Case {
    const char* model;
    const char* group;
    const char* codec;  // null: MPEG-4 through the vendor library, not in this build
    VideoCodec simCodec;
    int width, height;
  };
  const Case cases[] = {
      {"TCM5311", "2", "h264", VideoCodec::kH264, 320, 240},   {"KCM5311", "2", "mjpeg", VideoCodec::kMjpeg, 640, 480},
      {"KCM3911", "2", "h264", VideoCodec::kH264, 640, 480},   {"ACM8201", "1", "mjpeg", VideoCodec::kMjpeg, 352, 240},
      {"CAM6510", "0", "mpeg4", VideoCodec::kMpeg4, 352, 240}, {"ACD2400", "1", "mjpeg", VideoCodec::kMjpeg, 352, 240},
      {"SED2300", "3", nullptr, VideoCodec::kMpeg4, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    const std::string model = c.model;
    SimulatedCamera::Options options;
    options.model = model;
    if (model == "KCM3911") options.clock_offset = 3h;
    SimulatedCamera camera(options);
    ASSERT_TRUE(camera.Start());
    if (model == "KCM3911") {
      ASSERT_GE(camera.ClockOffset(), 3h - 1s);
      TestDriver driver;
      driver.info.port = camera.HttpPort();
      driver.info.user = driver.info.password = "admin";
      TimeSyncRegister(&driver);  // what a driver opened for a group-2 camera does
      EXPECT_TRUE(WaitUntil([&] { return camera.ClockSetCount() >= 1; }));
      EXPECT_LE(std::abs(camera.ClockOffset().count()), 2);
      TimeSyncUnregister(&driver);
    }
    std::string params;
    ASSERT_EQ(RunShell(HostLine("probe --host-version 6.4 --as-params", camera.HttpPort()), &params), 0);
    EXPECT_NE(params.find("--param 5=" + std::string(c.group) + " "), std::string::npos) << params;
    if (c.codec == nullptr) continue;
    std::string summary;
    const std::string request = std::string(" --codec ") + c.codec + " --width " + std::to_string(c.width) +
                                " --height " + std::to_string(c.height) + " --fps 10 --frames 3 --duration 60";
    ASSERT_EQ(RunShell(HostLine("record --model " + model, camera.HttpPort()) + " " +
                           params.substr(0, params.size() - 1) + request + " 2>/dev/null",
                       &summary),
              0);
    EXPECT_NE(summary.find(" width=" + std::to_string(c.width) + " height=" + std::to_string(c.height) + " "),
              std::string::npos)
        << summary;
    const auto stream = camera.CurrentStream(1);
    EXPECT_EQ(stream.codec, c.simCodec);
    EXPECT_EQ(stream.width, c.width);
    EXPECT_EQ(stream.height, c.height);
    EXPECT_EQ(stream.fps, 10);
    if (model != "KCM5311") continue;

    // Lines and JSON hide the password, and failures exit 1.
    std::string out;
    ASSERT_EQ(RunShell(HostLine("probe --json", camera.HttpPort()) +
                           " | python3 -c 'import json,sys; d=json.load(sys.stdin); "
                           "print(d[\"device\"], d[\"connection\"][\"4\"], d[\"properties\"][\"5\"], d[\"items\"])'",
                       &out),
              0);
    // A host older than 6.1 gets no items of the second stream.
    EXPECT_EQ(out,
              "ACTi KCM5311 *** 2 {'101': {'name': 'Audio Input Parameters', 'value': 'Count=1; IsStereo=0'}, "
              "'102': {'name': 'Audio Output Parameters', 'value': 'Count=1; IsStereo=0'}}\n");
    ASSERT_EQ(RunShell(HostLine("probe", camera.HttpPort()), &out), 0);
    for (const char* line : {"device=ACTi KCM5311\n", "capability 8=1\n", "resolution 1280x720 frame=33\n",
                             "framerates default=67 values=1000,500,333,250,200,167,143,100,67,33\n",
                             "connection 4=***\n", "property 13=1\n"}) {
      EXPECT_NE(out.find(line), std::string::npos) << line << out;
    }
    camera.Stop();
    EXPECT_EQ(RunShell(HostLine("probe", camera.HttpPort()) + " 2>&1", &out), 1);
    EXPECT_NE(out.find("status 3: Failed to get camera properties"), std::string::npos) << out;
    EXPECT_EQ(RunShell(HostLine("probe --json --as-params", camera.HttpPort()) + " 2>/dev/null"), 2);
  }
}

}  // namespace
}  // namespace orbisan::test
