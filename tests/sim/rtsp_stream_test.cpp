// What the simulated camera streams, as independent clients (ffprobe, a plain
// RTSP client) see it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"

namespace {

using simtest::Cgi;
using simtest::HttpGet;
using simtest::OptionsFor;
using simtest::Probe;
using simtest::RawRtspClient;
using ::strandline::sim::SimulatedCamera;

TEST(StreamPathTest, TracksOfAMultiStreamCameraAndInputsOfAVideoServer) {
  SimulatedCamera camera(OptionsFor("KCM5311"));
  ASSERT_TRUE(camera.Start());
  HttpGet(Cgi(camera, "encoder", "&VIDEO_RESOLUTION=N640x480"));
  HttpGet(Cgi(camera, "encoder", "&CHANNEL=2&VIDEO_ENCODER=MJPEG&VIDEO_RESOLUTION=N320x240"));
  HttpGet(Cgi(camera, "encoder", "&CHANNEL=3&VIDEO_ENCODER=MPEG4&VIDEO_RESOLUTION=N320x240"));
  struct Expect {
    const char* path;
    const char* codec;
    int width;
  };
  for (const Expect& e : {Expect{"/", "h264", 640}, Expect{"/track1/", "h264", 640}, Expect{"/track2", "mjpeg", 320},
                          Expect{"/track3", "mpeg4", 320}}) {
    std::string error;
    auto stream = Probe(camera.RtspUrl(e.path), "tcp", &error);
    ASSERT_TRUE(stream) << e.path << ": " << error;
    EXPECT_EQ(stream->codec, e.codec) << e.path;
    EXPECT_EQ(stream->width, e.width) << e.path;
  }
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(camera.RtspPort()));
  EXPECT_EQ(client.Request("DESCRIBE", camera.RtspUrl("/track4")).status, 404);

  // The video server draws its clock on the pictures: that streams too.
  auto with_clock = OptionsFor("ACD2400");
  with_clock.clock_overlay = true;
  SimulatedCamera server(with_clock);
  ASSERT_TRUE(server.Start());
  auto ports = server.RtspPorts();
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(std::set<uint16_t>(ports.begin(), ports.end()).size(), 4u);
  HttpGet(Cgi(server, "encoder", "&CHANNEL=2&VIDEO_ENCODER=MJPEG&VIDEO_RESOLUTION=N320x240"));
  for (const auto& [input, codec, width] : {std::tuple{2, "mjpeg", 320}, std::tuple{1, "mpeg4", 352}}) {
    auto stream = Probe(server.RtspUrl("/", input), "udp");
    ASSERT_TRUE(stream) << input;
    EXPECT_EQ(stream->codec, codec) << input;
    EXPECT_EQ(stream->width, width) << input;
  }
}

// Clips are made once per build folder with ffmpeg and reused.
std::string Clip(const std::string& codec) {
  std::filesystem::path dir = std::filesystem::path(STRANDLINE_BUILD_DIR) / "sim-clips";
  std::filesystem::create_directories(dir);
  const bool h264 = codec == "h264", mjpeg = codec == "mjpeg";
  const std::string name = std::string("clip_320x240_25.") + (h264 ? "h264" : mjpeg ? "mjpeg" : "m4v");
  std::vector<std::string> args = {"ffmpeg", "-v",    "error",    "-y",
                                   "-f",     "lavfi", "-i",       "testsrc=size=320x240:rate=25",
                                   "-t",     "2",     "-pix_fmt", mjpeg ? "yuvj420p" : "yuv420p",
                                   "-c:v"};
  const std::vector<std::string> codecArgs =
      mjpeg ? std::vector<std::string>{"mjpeg", "-q:v", "5", "-f", "mjpeg"}
            : std::vector<std::string>{h264 ? "libx264" : "mpeg4", "-bf", "0", "-g", "25", "-f", h264 ? "h264" : "m4v"};
  args.insert(args.end(), codecArgs.begin(), codecArgs.end());
  std::filesystem::path path = dir / name;
  if (!std::filesystem::exists(path)) {
    std::filesystem::path partial = dir / (name + ".part");
    args.push_back(partial.string());
    auto made = orbisan::test::RunCommand(args, std::chrono::seconds(60));
    if (made.exit_code != 0) return "";
    std::filesystem::rename(partial, path);
  }
  return path.string();
}

class ReplayTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ReplayTest, LoopsTheClipAtItsFrameRateForEverySession) {
  std::string clip = Clip(GetParam());
  ASSERT_FALSE(clip.empty()) << "ffmpeg could not make the clip";
  auto options = OptionsFor("TCM5311");
  options.source_file = clip;
  SimulatedCamera camera(options);
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;
  // The encoder settings no longer decide what is streamed.
  camera.SetSetting("VIDEO_ENCODER", "MPEG4");
  auto stream = Probe(camera.RtspUrl("/track2"), "udp", &error);
  ASSERT_TRUE(stream) << error;
  EXPECT_EQ(stream->codec, GetParam());
  EXPECT_EQ(stream->width, 320);
  EXPECT_EQ(stream->height, 240);

  RawRtspClient a;
  RawRtspClient b;
  ASSERT_TRUE(a.Connect(camera.RtspPort()));
  ASSERT_TRUE(b.Connect(camera.RtspPort()));
  const auto playing = std::chrono::steady_clock::now();
  ASSERT_TRUE(a.PlayInterleaved(camera.RtspUrl("/")));
  ASSERT_TRUE(b.PlayInterleaved(camera.RtspUrl("/")));
  auto seen = a.Receive(std::chrono::milliseconds(3000));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - playing).count();
  std::set<uint32_t> frames(seen.rtp_timestamps.begin(), seen.rtp_timestamps.end());
  ASSERT_GE(frames.size(), 5u);
  // Bounds that hold however slow the machine: no more frames than the
  // clip's 25 a second allow in the time since PLAY (no burst), and stamps
  // that follow real time: at least half a frame interval apart on average,
  // spanning no more of the 90 kHz clock than has passed.
  EXPECT_LE(frames.size(), static_cast<size_t>(seconds * 25 * 1.5) + 5);
  uint32_t span = seen.rtp_timestamps.back() - seen.rtp_timestamps.front();
  EXPECT_GE(span, (frames.size() - 1) * (90000u / 25) / 2);
  EXPECT_LE(span, static_cast<uint32_t>(seconds * 90000 * 1.2) + 9000);
  EXPECT_GT(b.Receive(std::chrono::milliseconds(500)).rtp_packets, 0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, ReplayTest, ::testing::Values("h264", "mpeg4", "mjpeg"));

}  // namespace
