// Audio capture end to end: the exported driver opened for the simulated
// camera, the microphone track recorded through the host-facing audio objects
// and through `strandline record`, decoded by an independent decoder (ffmpeg).
#include "strandline/audio_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/simulated_camera.h"
#include "sim/stream_settings.h"
#include "support/driver_rig.h"
#include "support/process_counts.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

using namespace orbisan;
using namespace orbisan::ipcapture;
using namespace std::chrono_literals;

namespace {

// The simulated camera and the driver opened for it with one audio input.
struct AudioRig : test::Rig {
  explicit AudioRig(const std::string& model = "TCM5311", const std::string& config = "") : Rig(model, config) {
    setup.params.erase(5);
    setup.params[101] = "Count=1; IsStereo=0";
    opened = Open(5000, 15000);
    audio = opened ? driver->GetAudioCapture() : nullptr;
  }
  // The driver goes before the sink its audio thread calls.
  ~AudioRig() { Close(); }

  test::TestAudioSink audioSink;
  bool opened = false;
  IIPAudioCapture2* audio = nullptr;
};

// Rising zero crossings per second of 16-bit mono samples at 8000 Hz.
double DominantFrequency(const std::string& pcm) {
  const auto* samples = reinterpret_cast<const int16_t*>(pcm.data());
  const size_t count = pcm.size() / 2;
  size_t crossings = 0;
  for (size_t i = 1; i < count; ++i) crossings += samples[i - 1] < 0 && samples[i] >= 0;
  return count ? static_cast<double>(crossings) * 8000.0 / static_cast<double>(count) : 0;
}

}  // namespace

// On one camera: `strandline record` writes the channel's tone as whole
// seconds with video; then the driver's own session is dropped, comes back
// with one lost and one OK line, and open/close cycles leave nothing.
TEST(AudioCapture, RecordWritesTheToneThenADroppedSessionComesBackAndCyclesLeaveNothing) {
  AudioRig rig;
  ASSERT_TRUE(rig.started);
  ASSERT_TRUE(rig.opened);
  test::ScratchDir dir;
  const std::string command =
      test::HostLine("record --model TCM5311 --param 7=" + std::to_string(rig.camera->RtspPort()) +
                         " --width 320 --height 240 --fps 10 --duration 15 --out " + dir.File("v.h264") + " --audio " +
                         dir.File("a.wav"),
                     rig.camera->HttpPort()) +
      " --param '101=Count=1; IsStereo=0' 2>/dev/null";
  std::string summary;
  ASSERT_EQ(test::RunShell(command, &summary), 0) << summary;
  unsigned long long frames = 0, audioFrames = 0, audioBytes = 0;
  unsigned state = 9;
  ASSERT_EQ(std::sscanf(summary.c_str() + summary.find("frames="), "frames=%llu", &frames), 1) << summary;
  ASSERT_NE(summary.find("audio_frames="), std::string::npos) << summary;
  ASSERT_EQ(std::sscanf(summary.c_str() + summary.find("audio_frames="),
                        "audio_frames=%llu audio_bytes=%llu audio_state=%u", &audioFrames, &audioBytes, &state),
            3)
      << summary;
  EXPECT_GT(frames, 25u) << "video from the same camera at once";
  // Whole seconds only (the partial one at the end is not a frame); at
  // least five even when a loaded machine made the first session time out
  // and the next one start several seconds into the recording.
  EXPECT_GE(audioFrames, 5u) << summary;
  EXPECT_LE(audioFrames, 15u) << summary;
  EXPECT_EQ(audioBytes, audioFrames * 8000) << "every frame exactly one second";
  EXPECT_EQ(state, static_cast<unsigned>(kAudioRunning));

  const std::string decode =
      "ffmpeg -v error -y -i " + dir.File("a.wav") + " -f s16le -ac 1 -ar 8000 " + dir.File("a.raw") + " 2>&1";
  std::string ffmpegErrors;
  ASSERT_EQ(test::RunShell(decode, &ffmpegErrors), 0) << ffmpegErrors;
  const std::string pcm = dir.Read("a.raw");
  EXPECT_EQ(pcm.size(), audioBytes * 2);
  const double expected = strandline::sim::AudioToneHz(1);
  EXPECT_NEAR(DominantFrequency(pcm), expected, expected * 0.02);

  ASSERT_NE(rig.audio, nullptr);
  ASSERT_TRUE(rig.audio->OpenChannel(1, 0, &rig.audioSink, nullptr));
  ASSERT_TRUE(test::WaitUntil([&] { return rig.audioSink.Frames().size() >= 2; }, 30s));
  EXPECT_EQ(rig.audio->GetChannelState(1), kAudioRunning);
  EXPECT_EQ(rig.log.Count("Audio signal from camera 127.0.0.1 is OK"), 1);

  rig.camera->DropRtspConnections();
  const auto dropped = std::chrono::steady_clock::now();
  // Every state the channel takes reaches the host: the short stay in 5 too.
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        const auto states = rig.audioSink.States();
        return std::find(states.begin(), states.end(), kAudioBroken) != states.end();
      },
      30s));
  ASSERT_TRUE(test::WaitUntil([&] { return rig.log.Count("is OK") == 2; }, 30s));
  const auto back = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - dropped);
  EXPECT_EQ(rig.audio->GetChannelState(1), kAudioRunning);
  EXPECT_EQ(rig.log.Count("Audio signal was lost for camera 127.0.0.1"), 1);
  // Silence is noticed after the connect time-out (5000 ms) at the next loop
  // pass (2000 ms); the new session's first second of audio follows.
  std::printf("audio back %lld ms after the drop\n", static_cast<long long>(back.count()));
  EXPECT_LT(back, 5000ms + 2000ms + 10000ms) << "generous for a loaded machine";
  for (const auto& frame : rig.audioSink.Frames()) EXPECT_EQ(frame.size(), 8000u);

  EXPECT_TRUE(rig.audio->CloseChannel(1));
  EXPECT_EQ(rig.audioSink.States().back(), kAudioStopped);
  EXPECT_EQ(rig.log.Count("Audio channel was stopped for camera 127.0.0.1"), 1);

  // Open and close cycles after that first life leave no threads or descriptors.
  const test::Counts counts = test::SettledCounts();
  for (int i = 0; i < 200; ++i) {
    const size_t before = rig.audioSink.Frames().size();
    ASSERT_TRUE(rig.audio->OpenChannel(1, 0, &rig.audioSink, nullptr));
    // Some channels close while their audio flows, the others during set-up.
    if (i % 50 == 0) {
      ASSERT_TRUE(test::WaitUntil([&] { return rig.audioSink.Frames().size() > before; }, 30s)) << "cycle " << i;
    }
    EXPECT_TRUE(rig.audio->CloseChannel(1));
  }
  EXPECT_EQ(rig.audio->GetOpenChannelCount(), 0u);
  EXPECT_EQ(test::CountsSettleAt(counts), counts);
  EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load());
}

TEST(AudioCapture, ModelWithoutAudioIsBrokenAndRetriesQuietly) {
  AudioRig rig("SED2300");
  ASSERT_TRUE(rig.started);
  ASSERT_TRUE(rig.opened);
  ASSERT_TRUE(rig.audio->OpenChannel(1, 0, &rig.audioSink, nullptr));
  auto checks = [&] {
    int n = 0;
    for (const auto& request : rig.camera->CgiRequests())
      n += request.query.find("V2_AUDIO_ENABLED=1") != std::string::npos;
    return n;
  };
  // Each retry passes through the starting state while its check is in flight.
  ASSERT_TRUE(test::WaitUntil([&] { return checks() >= 3 && rig.audio->GetChannelState(1) == kAudioBroken; }, 60s));
  EXPECT_EQ(rig.log.Count("did not enable its audio input"), 1) << "repeats are not logged again";
  EXPECT_EQ(rig.log.Count("Audio signal"), 0);
  EXPECT_TRUE(rig.audioSink.Frames().empty());
  EXPECT_TRUE(rig.audio->CloseChannel(1));
}

TEST(AudioCaptureMulticast, ReceivesTheMicrophoneFromTheGroup) {
  if (std::getenv("STRANDLINE_NETNS") == nullptr) {
    GTEST_SKIP() << "multicast runs only inside a private network namespace (scripts/netns-run)";
  }
  AudioRig rig("TCM5311", "<Configuration><StreamingMode>multicast</StreamingMode></Configuration>");
  ASSERT_TRUE(rig.opened);
  ASSERT_TRUE(rig.audio->OpenChannel(1, 0, &rig.audioSink, nullptr));
  ASSERT_TRUE(test::WaitUntil([&] { return rig.audioSink.Frames().size() >= 3; }, 30s));
  EXPECT_EQ(rig.audio->GetChannelState(1), kAudioRunning);
  for (const auto& frame : rig.audioSink.Frames()) EXPECT_EQ(frame.size(), 8000u);
  EXPECT_TRUE(rig.audio->CloseChannel(1));
  EXPECT_EQ(rig.log.Count("RTP multicast stream cannot be started"), 0);
}
