#include "channels/base_camera_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "rtsp/resolution_class.h"
#include "support/test_driver.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

using namespace orbisan;
using namespace std::chrono_literals;

namespace {

// A channel whose thread delivers one frame each time the test asks, goes
// online after a delivered frame, and can be told to ignore the stop.
class TestChannel : public CBaseCameraChannel {
 public:
  TestChannel(uint32_t index, IDriver* driver, ipcapture::IVideoFrameSink* sink)
      : CBaseCameraChannel(index, driver, sink) {}
  ~TestChannel() override { Stop(); }
  void SetPrivacyMask(ipcapture::IPrivacyZoneList*) override {}

  using CBaseCameraChannel::NotifySignalLost;
  using CBaseCameraChannel::SendFrameCallback;
  using CBaseCameraChannel::SetCameraState;
  using CBaseCameraChannel::SetMonitorOnly;
  using CBaseCameraChannel::SetState;

  CEvent produce{false};
  CManualEvent delivered;
  CManualEvent busyStarted;
  std::atomic<bool> busy{false};
  std::atomic<int> framesSent{0};
  std::atomic<int> runs{0};
  std::atomic<uint32_t> widthSeenByThread{0};
  STREAM_PARAMS Seen() const { return Params(); }

 protected:
  uint32_t ThreadFunction() override {
    ++runs;
    SetState(Connecting);
    CEvent* events[2] = {&StopEvent(), &produce};
    for (;;) {
      // The thread reads its parameters whenever it likes, as a real one does.
      widthSeenByThread = Params().width;
      if (busy) {
        busyStarted.Set();
        std::this_thread::sleep_for(400ms);  // ignores the stop meanwhile
        busy = false;
      }
      const int which = CEvent::WaitForAny(events, 2, 1000);
      if (which == 0) return 0;
      if (which != 1) continue;
      test::TestSample sample(ipcapture::kFourCC_JPEG, 16, "x");
      sample.SetDataSize(4);
      if (SendFrameCallback(&sample)) {
        ++framesSent;
        SetState(Streaming);
        SetCameraState(true);
      }
      delivered.Set();
    }
  }
};

class EdgeCallback : public IEdgeStorageCallback {
 public:
  void OnFrameTime(uint32_t, uint64_t time) override {
    if (throwIt) throw 1;
    ++frames;
    last = time;
  }
  void OnSignalLost(uint32_t) override { ++lost; }
  std::atomic<int> frames{0};
  std::atomic<int> lost{0};
  std::atomic<uint64_t> last{0};
  bool throwIt = false;
};

STREAM_PARAMS Params(uint32_t kind, uint32_t bitrate = 7) {
  STREAM_PARAMS p;
  p.frameRate = 0x7000 | 25;
  p.bitrate = bitrate;
  p.width = 640;
  p.height = 480;
  p.codec = 1;
  p.streamKind = kind;
  return p;
}

// Lets the thread deliver one frame, or (busy) keeps it busy past the stop
// once it took up the work.
void Produce(TestChannel& channel, bool busy = false) {
  CManualEvent& reached = busy ? channel.busyStarted : channel.delivered;
  reached.Reset();
  channel.busy = busy;
  channel.produce.Set();
  ASSERT_TRUE(reached.Wait(10000));
}

class BaseCameraChannel : public ::testing::Test {
 protected:
  void Start(uint32_t kind = kStreamRecording, uint32_t bitrate = 7) {
    STREAM_PARAMS p = Params(kind, bitrate);
    ASSERT_TRUE(channel_.Start(&p));
  }

  test::TestDriver driver_;
  test::TestSink sink_;
  TestChannel channel_{0, &driver_, &sink_};
};

}  // namespace

TEST_F(BaseCameraChannel, StateAndLogLinesAcrossALifetime) {
  driver_.info.address = "10.1.2.3";
  // "level message" of the one line holding the text.
  const auto only = [this](const std::string& text) {
    const auto lines = driver_.LinesWith(text);
    return lines.size() == 1 ? std::to_string(lines[0].level) + " " + lines[0].Message() : std::to_string(lines.size());
  };
  EXPECT_EQ(channel_.GetState(), Stopped);
  Start(kStreamLive);
  Produce(channel_);
  EXPECT_EQ(channel_.GetState(), Streaming);
  Produce(channel_);  // a second online report logs nothing
  EXPECT_EQ(only("is online"), "3 Camera 10.1.2.3 is online (Live)");
  // Signal lost while online: lower-case device name, level 1.
  channel_.SetState(SignalLost);
  channel_.SetCameraState(false);
  EXPECT_EQ(only("Signal was lost"), "1 Signal was lost for camera 10.1.2.3 (Live)");
  // Failure while connecting.
  channel_.SetState(Streaming);
  channel_.SetCameraState(true);
  channel_.SetState(Connecting);
  channel_.SetCameraState(false);
  EXPECT_EQ(only("is offline or failed"), "1 Camera 10.1.2.3 is offline or failed (Live)");
  // Stop from streaming: "Channel was stopped" because Stop sets Stopped first.
  channel_.SetState(Streaming);
  channel_.SetCameraState(true);
  channel_.Stop();
  EXPECT_EQ(channel_.GetState(), Stopped);
  EXPECT_EQ(only("Channel was stopped"), "3 Camera 10.1.2.3 is offline. Channel was stopped (Live)");

  // A video server names its channel; a recording stream says so.
  driver_.channelCount = 4;
  TestChannel channel(2, &driver_, &sink_);
  STREAM_PARAMS p = Params(kStreamRecording);
  ASSERT_TRUE(channel.Start(&p));
  channel.SetCameraState(true);
  channel.SetState(SignalLost);
  channel.SetCameraState(false);
  EXPECT_EQ(only("is online (Rec)"), "3 Video-server 10.1.2.3 (channel 2) is online (Rec)");
  EXPECT_EQ(only("Signal was lost for video-server"), "1 Signal was lost for video-server 10.1.2.3 (channel 2) (Rec)");
}

TEST_F(BaseCameraChannel, MonitoringModeReachesTheEdgeCallbackButNotTheSink) {
  EdgeCallback edge;
  channel_.SetEdgeStorageCallback(&edge);
  test::TestSample sample(ipcapture::kFourCC_JPEG, 8, "x");
  const SYSTEMTIME t{.wYear = 2026, .wMonth = 1, .wDay = 2};
  sample.SetTime(&t);
  channel_.SetMonitorOnly(true);
  EXPECT_TRUE(channel_.SendFrameCallback(&sample));
  EXPECT_EQ(sink_.FrameCount(), 0u);
  EXPECT_EQ(edge.frames, 1);
  EXPECT_EQ(edge.last, SystemTimeToFileTime64(t));
  channel_.SetMonitorOnly(false);
  EXPECT_TRUE(channel_.SendFrameCallback(&sample));
  EXPECT_EQ(sink_.FrameCount(), 1u);
  EXPECT_EQ(edge.frames, 2);
  // A refused frame does not reach edge storage.
  sink_.accept = false;
  EXPECT_FALSE(channel_.SendFrameCallback(&sample));
  EXPECT_EQ(edge.frames, 2);
  EXPECT_FALSE(channel_.SendFrameCallback(nullptr));
  // Signal loss reaches both.
  channel_.NotifySignalLost();
  EXPECT_EQ(sink_.signalLost, 1);
  EXPECT_EQ(edge.lost, 1);
  // An edge callback that throws is caught and logged.
  sink_.accept = true;
  edge.throwIt = true;
  EXPECT_TRUE(channel_.SendFrameCallback(&sample));
}

// A sink that throws does not end the thread; a restart keeps the bitrate;
// a stop waits for a busy thread only within its bound.
TEST_F(BaseCameraChannel, RestartsAndStopsOfTheChannelThread) {
  Start(kStreamRecording, 42);
  sink_.throwOnFrame = true;
  Produce(channel_);
  EXPECT_EQ(channel_.framesSent, 0);
  sink_.throwOnFrame = false;
  Produce(channel_);
  EXPECT_EQ(channel_.framesSent, 1);
  driver_.ClearLines();
  STREAM_PARAMS q = Params(kStreamRecording, 99);
  q.width = 1280;
  ASSERT_TRUE(channel_.Restart(&q));
  EXPECT_EQ(channel_.Seen().bitrate, 42u);
  EXPECT_EQ(channel_.Seen().width, 1280u);
  EXPECT_TRUE(test::WaitUntil([&] { return channel_.runs >= 2; }));
  EXPECT_EQ(channel_.runs, 2);
  Produce(channel_);
  EXPECT_EQ(channel_.widthSeenByThread, 1280u);
  EXPECT_TRUE(driver_.LinesWith("offline").empty());
  // A start while running replaces the thread.
  ASSERT_TRUE(channel_.Start(&q));
  EXPECT_TRUE(test::WaitUntil([&] { return channel_.runs >= 3; }));
  EXPECT_EQ(channel_.runs, 3);
  // A thread busy past the stop's bound is given up with a warning.
  driver_.info.connectTimeoutMs = 50;  // bound is 100 ms, the thread is busy 400 ms
  Start();
  Produce(channel_, true);
  channel_.Stop();
  auto warn =
      driver_.LinesWith("Video capture thread for camera 127.0.0.1 cannot be stopped and will be terminated now");
  ASSERT_EQ(warn.size(), 1u);
  EXPECT_EQ(warn[0].level, 2u);

  // With the normal bound the same stop needs no warning.
  driver_.info.connectTimeoutMs = 5000;
  driver_.ClearLines();
  Start();
  Produce(channel_, true);
  const auto start = std::chrono::steady_clock::now();
  channel_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_TRUE(driver_.LinesWith("cannot be stopped").empty());
}

TEST(StreamHelpers, FrameRateResolutionClassAndNames) {
  std::vector<uint32_t> rates, classes;
  for (uint32_t code : {0x7000u | 30, 0x7000u, 40u, 2000u, 3000u, 0u}) rates.push_back(DecodeFrameRate(code));
  EXPECT_EQ(rates, (std::vector<uint32_t>{30, 0, 25, 1, 0, 1})) << "2000: 0.5 rounds up";
  for (auto [w, h] : {std::pair{176, 144}, {352, 288}, {704, 240}, {704, 576}})
    classes.push_back(ResolutionClass(w, h));
  EXPECT_EQ(classes, (std::vector<uint32_t>{1, 2, 3, 4}));
  std::vector<std::string> names;
  for (uint32_t kind : {0, 1, 2, 7}) names.push_back(StreamName("Strandline", kind));
  EXPECT_EQ(names, (std::vector<std::string>{"Strandline::RecStream", "Strandline::LiveStream",
                                             "Strandline::RemoteStream", "Strandline"}));
}
