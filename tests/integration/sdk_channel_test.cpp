// MPEG-4 of camera group 3 through the vendor library (the stand-in built by
// this project, which serves the simulated camera), and the camera's
// loudspeaker through the same library, driven by the reference host.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_camera.h"
#include "support/g711.h"
#include "support/host_process.h"
#include "support/index_csv.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/test_capture_setup.h"
#include "support/test_samples.h"
#include "support/test_stream_request.h"
#include "support/wait_until.h"

using namespace std::chrono_literals;
using orbisan::test::HostProcess;
using orbisan::test::IndexTimes;
using orbisan::test::WaitUntil;
using strandline::sim::SimulatedCamera;

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

Env WithStandIn(Env more = {}) {
  more.emplace_back("LD_LIBRARY_PATH", STRANDLINE_STANDIN_DIR);
  return more;
}

// The camera's first stream through the module's exports, as a recorder runs
// it; without a sink, only the open and the close.
void RunDriver(uint16_t port, orbisan::ipcapture::IVideoFrameSink* sink) {
  orbisan::test::DriverModule module{STRANDLINE_DRIVER_PATH};
  orbisan::test::TestCaptureSetup setup;
  setup.model = "ACM8201";
  setup.port = port;
  setup.params = {{1, "1"}, {5, "3"}};
  orbisan::test::TestLog log;
  orbisan::test::TestAllocator allocator;
  ASSERT_TRUE(module.Loaded());
  auto* driver = module.Create();
  EXPECT_TRUE(driver->Open(&log, &allocator, &setup));
  orbisan::test::TestStreamRequest request(2, 640, 480, 30);
  auto* capture = driver->GetVideoCapture();
  if (sink != nullptr && capture->StartCapture(0, sink, &request)) {
    EXPECT_TRUE(WaitUntil([&] { return log.Count("did not return from KConnect") > 0; }, 30s));
    EXPECT_TRUE(capture->StopCapture(0));
    EXPECT_EQ(log.Count("cannot be stopped"), 0);
  }
  module.Delete(driver);
}

bool DriverStillLoaded() {
  void* module = ::dlopen(STRANDLINE_DRIVER_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (module != nullptr) ::dlclose(module);
  return module != nullptr;
}

// On one MPEG-4 camera with a loudspeaker: MPEG-4 recorded at the camera's
// pace, the missing library told once an attempt, the loudspeaker, stopped
// callbacks, and a library call that hangs past the driver's unloading.
TEST(SdkChannel, RecordsTellsAMissingLibraryTalksRecoversAndOutlivesAHungCall) {
  SimulatedCamera::Options options;
  options.model = "ACM8201";
  SimulatedCamera camera(options);
  ASSERT_TRUE(camera.Start());
  const auto device = [&](const std::string& command, const std::string& more = "") {
    return orbisan::test::HostArgs(command, camera.HttpPort(), "--param 1=1 --param 5=3 " + more);
  };
  const auto recordFor = [&](const std::string& seconds) {
    return device("record", "--codec mpeg4 --width 640 --height 480 --fps 30 --bitrate 50 --duration " + seconds);
  };
  orbisan::test::ScratchDir dir("strandline_sdk");
  std::vector<std::string> args = recordFor("5");
  args.insert(args.end(), {"--out", dir.File("rec.m4v"), "--index", dir.File("rec.csv")});
  HostProcess record(args, WithStandIn());
  ASSERT_EQ(record.Wait(40s), 0) << record.Err();
  EXPECT_NE(record.Out().find("fourcc=DIV"), std::string::npos) << record.Out();
  EXPECT_NE(record.Out().find("width=640 height=480"), std::string::npos) << record.Out();
  std::string messages;
  ASSERT_EQ(
      orbisan::test::RunShell("ffmpeg -v warning -nostdin -i " + dir.File("rec.m4v") + " -f null - 2>&1", &messages),
      0);
  EXPECT_EQ(messages, "");
  // Frames are stamped as they arrive from a 30 fps camera: the typical step
  // is a frame time, and the stamps span the recording, not a burst.
  const std::vector<long long> times = IndexTimes(dir.Read("rec.csv"));
  ASSERT_GT(times.size(), 30u);
  std::vector<long long> steps;
  for (size_t i = 1; i < times.size(); ++i) steps.push_back(times[i] - times[i - 1]);
  std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
  EXPECT_NEAR(steps[steps.size() / 2], 33, 8);
  EXPECT_GT(times.back(), 2000);

  // Without the library each attempt says so once.
  HostProcess missing(recordFor("3"), {{"LD_LIBRARY_PATH", ""}});
  ASSERT_EQ(missing.Wait(30s), 1) << missing.Err();
  const std::string err = missing.Err();
  const size_t lines =
      orbisan::test::Occurrences(err,
                                 "[level 2] orbisan::CBaseCameraChannel::ReportFailure: the vendor streaming library "
                                 "libKMpeg4.so was not found");
  EXPECT_GE(lines, 2u) << err;
  EXPECT_LE(lines, 5u) << err;  // one a second, no flood
  // The seconds in the line are measured, so only the address and the reason are fixed.
  const size_t noFrames =
      err.find("no frames arrived from 127.0.0.1:" + std::to_string(camera.HttpPort()) + " within ");
  ASSERT_NE(noFrames, std::string::npos) << err;
  EXPECT_NE(err.find(" s: the vendor streaming library libKMpeg4.so was not found", noFrames), std::string::npos)
      << err;

  // A four-second tone reaches the loudspeaker sample for sample.
  const std::string tone = dir.File("tone.ul");
  ASSERT_EQ(orbisan::test::RunShell("ffmpeg -v error -nostdin -f lavfi -i sine=frequency=1000:duration=4 -ar 8000 "
                                    "-ac 1 -f mulaw " +
                                    tone),
            0);
  const std::string input = dir.Read("tone.ul");
  ASSERT_EQ(input.size(), 32000u);
  args = device("talk");
  args.insert(args.end(), {"--file", tone, "--channel", "1"});
  // The library from the host directory this time, not the loader path.
  HostProcess talk(args, {{"STRANDLINE_HOST_DIR", STRANDLINE_STANDIN_DIR}, {"LD_LIBRARY_PATH", ""}});
  ASSERT_EQ(talk.Wait(40s), 0) << talk.Err() << talk.Out();
  EXPECT_NE(talk.Out().find("state 2 running"), std::string::npos) << talk.Out();
  EXPECT_NE(talk.Out().find("buffers=4 bytes=32000 state=2\n"), std::string::npos) << talk.Out();
  const std::vector<int16_t> heard = camera.SpeakerSamples(1);
  ASSERT_EQ(heard.size(), input.size());
  size_t wrong = 0;
  for (size_t i = 0; i < heard.size(); ++i) {
    wrong += heard[i] * 4 != orbisan::test::StandardMuLaw(static_cast<uint8_t>(input[i]));
  }
  EXPECT_EQ(wrong, 0u);

  // Stopped callbacks are one signal loss, then the stream comes back.
  args = recordFor("20");
  args.insert(args.end(), {"--index", dir.File("stall.csv")});
  HostProcess stalled(args, WithStandIn({{"STRANDLINE_KMPEG4_STALL_AFTER_MS", "3000"}}));
  // The camera is away (busy) for the first reconnect, then back; the
  // session already running goes on.
  ASSERT_TRUE(WaitUntil([&] { return stalled.Err().find("is online") != std::string::npos; }, 20s));
  camera.SetRtspRequestStatus(503);
  ASSERT_TRUE(WaitUntil([&] { return stalled.Err().find("refused KConnect") != std::string::npos; }, 20s))
      << stalled.Err();
  camera.SetRtspRequestStatus(0);
  ASSERT_EQ(stalled.Wait(40s), 0) << stalled.Err();
  EXPECT_NE(stalled.Out().find("signal_lost=1 "), std::string::npos) << stalled.Out();
  // Frames before and after a gap of at least half the signal time-out.
  const std::vector<long long> stall = IndexTimes(dir.Read("stall.csv"));
  size_t gap = 0;
  for (size_t i = 1; i < stall.size(); ++i) {
    if (stall[i] - stall[i - 1] > 7000) gap = i;
  }
  ASSERT_GT(gap, 0u) << stalled.Err();
  EXPECT_GT(stall.size() - gap, 10u);

  // The stand-in reads its faults once, when this process first loads it.
  ::setenv("STRANDLINE_HOST_DIR", STRANDLINE_STANDIN_DIR, 1);
  ::setenv("STRANDLINE_KMPEG4_BLOCK", "KConnect:14000", 1);
  RunDriver(camera.HttpPort(), nullptr);
  EXPECT_FALSE(DriverStillLoaded()) << "without a library call the module goes as it came";
  // KConnect outlasts the channel's bound (twice the 5 s connect time-out):
  // the stop leaves it running, and it returns into the unloaded module.
  orbisan::test::TestSink sink;
  RunDriver(camera.HttpPort(), &sink);
  EXPECT_TRUE(DriverStillLoaded());
  std::this_thread::sleep_for(5s);  // the call returns meanwhile: no crash
  ::unsetenv("STRANDLINE_KMPEG4_BLOCK");
  ::unsetenv("STRANDLINE_HOST_DIR");
}

}  // namespace
