// Starting and stopping the simulated camera, in process and as the
// "simulate" command, and multicast inside a private network namespace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "sim/simulated_camera.h"
#include "sim_test_support.h"
#include "support/process_counts.h"
#include "support/temp_dir.h"

namespace {

using orbisan::test::RunCommand;
using simtest::HttpGet;
using simtest::RawRtspClient;
using ::strandline::sim::SimulatedCamera;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// One life of a camera that did some work: a CGI request, an RTSP exchange
// and, when asked, a stream.
void OneLife(bool stream) {
  SimulatedCamera camera(simtest::OptionsFor(stream ? "KCM5311" : "ACD2400"));
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;
  auto answer = HttpGet(simtest::Cgi(camera, "system", "&SYSTEM_INFO"));
  ASSERT_EQ(answer.status, 200);
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(camera.RtspPort()));
  if (stream) {
    camera.SetSetting("VIDEO_RESOLUTION", "N320x240");
    ASSERT_TRUE(client.PlayInterleaved(camera.RtspUrl("/")));
    ASSERT_GT(client.Receive(300ms).rtp_packets, 0);
  } else {
    ASSERT_EQ(client.Request("OPTIONS", camera.RtspUrl("/")).status, 200);
  }
  camera.Stop();
}

TEST(LifecycleTest, FiftyStartsAndStopsLeakNoThreadsOrDescriptors) {
  // The first life creates what GStreamer, GLib and libcurl keep for the process.
  OneLife(true);
  OneLife(false);
  const orbisan::test::Counts counts = orbisan::test::SettledCounts();
  for (int i = 0; i < 50; ++i) {
    OneLife(i % 10 == 0);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(orbisan::test::CountsSettleAt(counts), counts);
}

TEST(LifecycleTest, StartFailsCleanlyOnABusyPortAnUnknownModelOrAMissingClip) {
  SimulatedCamera first;
  ASSERT_TRUE(first.Start());
  std::string error;
  SimulatedCamera::Options options;
  for (bool http : {true, false}) {
    options = {};
    (http ? options.http_port : options.rtsp_port) = http ? first.HttpPort() : first.RtspPort();
    SimulatedCamera second(options);
    EXPECT_FALSE(second.Start(&error));
    EXPECT_THAT(error, HasSubstr(std::to_string(http ? first.HttpPort() : first.RtspPort())));
    EXPECT_FALSE(second.IsRunning());
  }
  // The first camera is untouched.
  EXPECT_EQ(HttpGet(simtest::Cgi(first, "system", "&SYSTEM_INFO")).status, 200);
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(first.RtspPort()));
  EXPECT_EQ(client.Request("OPTIONS", first.RtspUrl("/")).status, 200);

  SimulatedCamera unknown(simtest::OptionsFor("XYZ9999"));
  EXPECT_FALSE(unknown.Start(&error));
  EXPECT_THAT(error, HasSubstr("XYZ9999"));
  options = {};
  options.source_file = "/nonexistent/clip.h264";
  SimulatedCamera no_clip(options);
  EXPECT_FALSE(no_clip.Start(&error));
  EXPECT_THAT(error, HasSubstr("clip"));
  EXPECT_FALSE(no_clip.IsRunning());
}

// The simulate command as its own process; the helper program only calls it.
const std::string kHelper = STRANDLINE_SIM_HELPER;

TEST(SimulateCommandTest, PrintsReadyServesStopsOnSignalAndRefusesBadUsage) {
  // The shell starts the command, waits for READY, asks ffprobe, and interrupts it.
  std::string script =
      "\"$0\" --http-port 0 --rtsp-port 0 --model TCM5311 --user op --password pw > \"$1/out\" 2> \"$1/err\" &\n"
      "pid=$!\n"
      "for i in $(seq 100); do grep -q READY \"$1/out\" && break; sleep 0.1; done\n"
      "cat \"$1/out\"\n"
      "port=$(sed -n 's/.*rtsp:\\/\\/127.0.0.1:\\([0-9]*\\).*/\\1/p' \"$1/out\")\n"
      "ffprobe -v error -probesize 65536 -rtsp_transport tcp -show_entries stream=codec_name,width -of csv "
      "rtsp://127.0.0.1:$port/ || echo PROBE_FAILED\n"
      "kill -INT $pid\n"
      "wait $pid\n"
      "echo EXIT=$?\n";
  orbisan::test::ScratchDir dir("simulate_cmd");
  auto result = RunCommand({"sh", "-c", script, kHelper, dir.Path()}, 60s);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  auto lines = simtest::Lines(result.out);
  ASSERT_GE(lines.size(), 3u) << result.out;
  EXPECT_TRUE(
      std::regex_match(lines[0], std::regex("READY http://127\\.0\\.0\\.1:[0-9]+ rtsp://127\\.0\\.0\\.1:[0-9]+")))
      << lines[0];
  EXPECT_EQ(lines[1], "stream,h264,640");
  EXPECT_EQ(lines.back(), "EXIT=0");

  for (const auto& args : std::vector<std::vector<std::string>>{{"--model", "XYZ"},
                                                                {"--http-port", "70000"},
                                                                {"--user", "u"},
                                                                {"--http-auth", "ntlm"},
                                                                {"--rtsp-port"},
                                                                {"--frobnicate"}}) {
    std::vector<std::string> argv = {kHelper};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = RunCommand(argv, 10s);
    EXPECT_EQ(result.exit_code, 2) << args.front();
    EXPECT_EQ(simtest::Lines(result.err).size(), 1u) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
  auto help = RunCommand({kHelper, "--help"}, 10s);
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_THAT(help.out, HasSubstr("ACD2400"));
}

}  // namespace
