// Digital I/O and motion events end to end: the driver module loaded as a
// host loads it, opened for the simulated camera, its I/O object and motion
// channels driven through the host-facing interfaces.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "io/imotion_channel.h"
#include "io/motion_channel.h"
#include "runtime/event.h"
#include "sim/simulated_camera.h"
#include "support/driver_rig.h"
#include "support/host_process.h"
#include "support/process_counts.h"
#include "support/test_io_callback.h"
#include "support/test_samples.h"
#include "support/test_stream_request.h"
#include "support/wait_until.h"

using namespace orbisan;
using namespace orbisan::ipcapture;
using namespace std::chrono_literals;
using orbisan::test::WaitUntil;

namespace {

// A two-input, two-output speed dome in camera group 1: the support rig's
// camera and driver built into this program (for the motion channel alone),
// and the driver module as a recorder loads it, both opened for it.
struct Rig : test::Rig {
  explicit Rig(const std::string& config = "") : test::Rig("SED2300", config) {
    setup.inputs = setup.outputs = 2;
    setup.defaultCodec = 1;
    EXPECT_TRUE(module.Loaded());
    exported = module.Create();
    EXPECT_TRUE(exported->Open(&log, &allocator, &setup));
    EXPECT_TRUE(Open(2000, 15000));
  }
  ~Rig() { module.Delete(exported); }
  int NotStopped() { return log.Count("was not stopped"); }

  test::DriverModule module{STRANDLINE_DRIVER_PATH};
  IIPCaptureDriverEx5* exported = nullptr;
};

// The host stops the input from inside a callback of its recording: from a
// motion frame, from the motion channel's signal loss, from a video frame
// while motion goes on (over UDP and interleaved), or from the video's signal
// loss. Once the stop has returned no frame and no loss reaches the sink,
// though the host stays in the callback a while, and the input has no stream.
TEST(IoEvents, StopCaptureFromInsideACallbackEndsTheMotionToo) {
  enum class From { kMotionFrame, kMotionLoss, kVideoFrame, kInterleavedFrame, kVideoLoss };
  for (From from :
       {From::kMotionFrame, From::kMotionLoss, From::kVideoFrame, From::kInterleavedFrame, From::kVideoLoss}) {
    SCOPED_TRACE(static_cast<int>(from));
    const bool videoFrame = from == From::kVideoFrame || from == From::kInterleavedFrame;
    Rig rig(from == From::kInterleavedFrame ? test::TransportConfig(true) : "");
    rig.driver->GetDeviceInfo()->signalTimeoutMs = 3000;
    rig.camera->Motion().SetInterval(100ms);
    IIPVideoCapture* capture = rig.driver->GetVideoCapture();
    auto motionSeen = [&] { return test::MotionStates(rig.sink).size() + rig.sink.signalLost.load(); };
    std::atomic<int> calls{0};
    std::atomic<size_t> seenAtReturn{0}, framesAtReturn{0};
    CManualEvent returned, leave;
    auto stop = [&] {
      if (calls++ != 0) return;
      capture->StopCapture(0);
      seenAtReturn = motionSeen();
      framesAtReturn = rig.sink.FrameCount();
      returned.Set();
      leave.Wait(5000);
    };
    rig.sink.afterFrame = [&] {
      const bool motion = test::TestSink::CallbackFourCC() == kFourCC_MEMD;
      if (from == From::kMotionFrame ? motion : videoFrame && !motion && test::MotionStates(rig.sink).size() >= 2)
        stop();
    };
    if (from == From::kMotionLoss || from == From::kVideoLoss) rig.sink.afterSignalLost = stop;
    test::TestStreamRequest request(1, 320, 240, 0x7000 | 5);  // MJPEG with motion detection
    request.motion = 1;
    ASSERT_TRUE(capture->StartCapture(0, &rig.sink, &request));
    if (from == From::kMotionLoss) {
      ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 2; }, 20s));
      rig.camera->SetHttpFault(strandline::sim::HttpFault::kNoAnswer);
      rig.camera->Motion().DropConnections();
    }
    if (from == From::kVideoLoss) {
      ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 2; }, 20s));
      rig.camera->SetStreamFrozen(true);
    }
    ASSERT_TRUE(returned.Wait(30000));
    // Motion starts at the camera while the host is still inside: a running
    // channel reports it a second after the pair.
    rig.camera->Motion().SetMotion(true);
    std::this_thread::sleep_for(1500ms);
    leave.Set();
    EXPECT_EQ(motionSeen(), seenAtReturn.load());
    EXPECT_EQ(rig.sink.FrameCount(), framesAtReturn.load());
    uint32_t state = 0, reserved = 0;
    EXPECT_FALSE(rig.capture->GetStreamState(0, &state, &reserved, nullptr, 0)) << "the input has no stream";
    rig.camera->SetHttpFault(strandline::sim::HttpFault::kNone);
    rig.Close();  // joins the stopped threads
    EXPECT_EQ(calls.load(), 1);
    // A video frame held by the host keeps its packet queue past that queue's bound.
    if (!videoFrame) {
      EXPECT_EQ(rig.NotStopped(), 0);
    }
  }
}

// A motion channel whose cancel never reaches the request.
class LateCancelMotionChannel : public CMotionChannel {
 public:
  using CMotionChannel::CMotionChannel;
  void CancelRequest() override {}
};

// Inputs and outputs through the exported driver, then motion: the first
// life, which also makes what is made lazily once a process, before the counts.
TEST(IoEvents, InputsOutputsAndMotionThroughADropWhileSilentAndCyclesLeaveNothingBehind) {
  Rig rig;
  ICaptureIOApi* io = rig.exported->GetDigitalIO();
  ASSERT_NE(io, nullptr);
  test::TestIOCallback callback;
  ASSERT_TRUE(io->SetCallback(&callback));
  ASSERT_TRUE(io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return callback.Changes().size() == 2; }));

  // A toggled input reaches the host within a poll period and the request.
  const auto toggled = std::chrono::steady_clock::now();
  rig.camera->SetDigitalInputs(0x01);
  ASSERT_TRUE(WaitUntil([&] { return callback.Changes().size() == 3; }));
  EXPECT_EQ(callback.Changes().back(), (test::TestIOCallback::Change{0, 1}));
  EXPECT_LT(callback.LastChangeAt() - toggled, 2000ms + 1000ms);

  // What the host sets is what the camera's register holds.
  const uint32_t sets[][3] = {{1, 1, 0x02}, {0, 1, 0x03}, {1, 2, 0x01}};
  for (const auto& [index, state, register_] : sets) {
    ASSERT_TRUE(io->SetOutputState(index, state));
    ASSERT_TRUE(WaitUntil([&] { return rig.camera->DigitalOutputs() == register_; })) << index << "=" << state;
  }
  EXPECT_FALSE(io->SetOutputState(2, 1));
  EXPECT_TRUE(io->StopIO());

  rig.camera->Motion().SetInterval(100ms);
  std::unique_ptr<IMotionChannel> channel(rig.driver->CreateMotionChannel(0, &rig.sink));
  ASSERT_TRUE(channel->Start());
  ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 2; }));
  rig.camera->Motion().DropConnections();
  rig.camera->Motion().SetMotion(true);
  ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 3; }));
  EXPECT_EQ(rig.sink.signalLost.load(), 0);

  rig.camera->Motion().SetSilent(true);
  ASSERT_TRUE(WaitUntil([&] { return rig.camera->Motion().OpenStreams() == 1; }));
  const auto begin = std::chrono::steady_clock::now();
  channel->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 2000ms + 1000ms);
  EXPECT_EQ(rig.NotStopped(), 0);
  rig.camera->Motion().SetSilent(false);
  const test::Counts counts = test::SettledCounts();
  for (int i = 0; i < 200; ++i) {
    const size_t asked = rig.camera->CgiRequests().size();
    ASSERT_TRUE(channel->Start()) << i;
    ASSERT_TRUE(WaitUntil([&] { return rig.camera->CgiRequests().size() > asked; })) << i;
    channel->Stop();
  }
  // The stop seen before any cancel takes effect: the stream is open when the
  // thread leaves, and must close all the same.
  LateCancelMotionChannel late(0, rig.driver.get(), &rig.sink);
  const size_t asked = rig.camera->CgiRequests().size();
  ASSERT_TRUE(late.Start());
  ASSERT_TRUE(WaitUntil([&] { return rig.camera->CgiRequests().size() > asked; }));
  late.Stop();
  EXPECT_EQ(test::CountsSettleAt(counts), counts);
  EXPECT_TRUE(WaitUntil([&] { return rig.camera->Motion().OpenStreams() == 0; }));
  EXPECT_EQ(rig.NotStopped(), 0);
}

}  // namespace
