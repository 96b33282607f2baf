// Full HD as cameras send it: 8 s of a 1080p30 8 Mbit/s H.264 clip with a key
// frame every second (bursts of 100 and more packets) from the simulated camera
// and, at the same time, from GStreamer's own RTSP server, each recorded by the
// reference host, over UDP and over interleaved TCP. Nothing the servers sent
// may go missing.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rtsp/gst_rtsp_server_process.h"
#include "sim/simulated_camera.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace orbisan::test {
namespace {

constexpr size_t kGop = 30;  // frames from one key frame to the next, as the clip is made

struct Recording {
  std::string summary;  // the record command's standard output, its summary last
  std::string csv;      // the frame index
};

Recording Record(const ScratchDir& dir, const std::string& tag, uint16_t httpPort, uint16_t rtspPort,
                 bool interleaved) {
  dir.Write(tag + ".xml", TransportConfig(interleaved));
  Recording r;
  RunShell(HostLine("record --model TCM5311 --codec h264 --width 1920 --height 1080 --fps 30 --duration 8 --out "
                    "/dev/null --param 7=" +
                        std::to_string(rtspPort) + " --config " + dir.File(tag + ".xml") + " --index " +
                        dir.File(tag + ".csv"),
                    httpPort) +
               " 2>/dev/null",
           &r.summary);
  r.csv = dir.Read(tag + ".csv");
  return r;
}

// The server sends every frame of a group of pictures, so between the first and
// the last key frame delivered there must be whole groups and nothing else.
void ExpectEveryFrame(const Recording& r, const std::string& context) {
  std::vector<size_t> keys;
  std::istringstream lines(r.csv);
  std::string line;
  size_t frames = 0;
  for (std::getline(lines, line); std::getline(lines, line); ++frames) {
    if (line.ends_with(",1,live")) keys.push_back(frames);
  }
  ASSERT_GE(keys.size(), 6u) << context << r.summary;
  for (size_t k = 1; k < keys.size(); ++k) EXPECT_EQ(keys[k] - keys[k - 1], kGop) << context << r.summary;
  EXPECT_LE(frames - keys.back(), kGop) << context << r.summary;
  EXPECT_NE(r.summary.find(" rtp_lost=0 frames_dropped=0"), std::string::npos) << context << r.summary;
}

class HdStream : public ::testing::TestWithParam<bool> {};

TEST_P(HdStream, EveryFrameOfTheSimulatedCameraAndOfGStreamersServerArrives) {
  std::string clip;
  ASSERT_EQ(RunShell(std::string(STRANDLINE_SOURCE_DIR) + "/scripts/make-clip --seconds 12", &clip), 0);
  clip.erase(clip.find_last_not_of("\r\n") + 1);
  strandline::sim::SimulatedCamera::Options options;
  options.source_file = clip;
  strandline::sim::SimulatedCamera camera(options);
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;
  const std::string launch = "( filesrc location=" + clip.substr(0, clip.size() - 5) +
                             ".mkv ! matroskademux ! h264parse config-interval=-1 ! rtph264pay name=pay0 pt=96 )";
  GstRtspServerProcess gst(STRANDLINE_RTSP_TEST_SERVER, {"--mount", "/", launch, "--mount", "/track1", launch});
  ASSERT_NE(gst.port(), 0);

  ScratchDir dir("strandline_hd");
  Recording direct;
  std::thread other([&] { direct = Record(dir, "gst", camera.HttpPort(), gst.port(), GetParam()); });
  const Recording simulated = Record(dir, "sim", camera.HttpPort(), camera.RtspPort(), GetParam());
  other.join();
  const std::string note = GetParam() ? " over TCP: " : " over UDP: ";
  ExpectEveryFrame(simulated, "simulated camera" + note);
  ExpectEveryFrame(direct, "GStreamer's server" + note);
}

INSTANTIATE_TEST_SUITE_P(Transports, HdStream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Interleaved" : "Udp"; });

}  // namespace
}  // namespace orbisan::test
