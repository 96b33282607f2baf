// Digital I/O and motion events end to end: the driver module loaded as a
// host loads it, opened for the simulated camera, its I/O object and motion
// channels driven through the host-facing interfaces.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "driver/acti_ip_capture_driver.h"
#include "io/imotion_channel.h"
#include "sim/simulated_camera.h"
#include "strandline/exports.h"
#include "support/process_counts.h"
#include "support/test_io_callback.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

using namespace orbisan;
using namespace orbisan::ipcapture;
using namespace std::chrono_literals;
using orbisan::test::WaitUntil;
using strandline::sim::SimulatedCamera;

namespace {

// A two-input, two-output speed dome; camera group 1.
class Setup : public ICaptureSetup, public IUnitInfo, public IConnectionInfo {
 public:
  IUnitInfo* GetUnitInfo() override { return this; }
  IConnectionInfo* GetConnectionInfo() override { return this; }
  uint32_t GetParameterCount() override { return 0; }
  const char* GetParameter(uint32_t index) override {
    auto it = params.find(index);
    return it != params.end() ? it->second.c_str() : (index <= 16 ? "(none)" : nullptr);
  }
  const char* GetName() override { return "sim"; }
  const char* GetModel() override { return "SED2300"; }
  uint32_t GetChannelCount() override { return 1; }
  uint32_t GetUnitType() override { return 0; }
  uint32_t GetInputCount() override { return 2; }
  uint32_t GetOutputCount() override { return 2; }
  const char* GetAddress() override { return "127.0.0.1"; }
  uint16_t GetPort() override { return httpPort; }
  uint32_t GetProtocol() override { return 0; }
  uint32_t GetDefaultCodec() override { return 1; }
  const char* GetUserName() override { return "admin"; }
  const char* GetPassword() override { return "admin"; }

  std::map<uint32_t, std::string> params{{5, "1"}};
  uint16_t httpPort = 0;
};

// Counts the driver's warnings about threads that would not stop.
class Log : public IDebugOutput {
 public:
  void Output(CDebugInfoIf* info) override {
    if (info->GetText() != nullptr && std::string(info->GetText()).find("was not stopped") != std::string::npos) {
      ++notStopped;
    }
  }
  std::atomic<int> notStopped{0};
};

// A small MJPEG recording stream with motion detection on.
class Request : public IStreamRequest, IVideoFormat, IStreamSettings, IFrameSize {
 public:
  IVideoFormat* GetVideoFormat() override { return this; }
  IStreamSettings* GetStreamSettings() override { return this; }
  uint32_t GetPriority() override { return 0; }
  const char* GetStreamId() override { return ""; }
  IPrivacyZoneList* GetPrivacyMask() override { return nullptr; }
  uint16_t GetFormatVersion() override { return 0; }
  uint16_t GetColorDepth() override { return 0; }
  IFrameSize* GetFrameSize() override { return this; }
  uint16_t GetCodec() override { return 1; }
  uint16_t GetFrameRate() override { return 0x7000 | 5; }
  uint16_t GetQuality() override { return 0; }
  uint16_t GetBitrate() override { return 0; }
  uint16_t IsMotionDetectionEnabled() override { return 1; }
  uint16_t GetWidth() override { return 320; }
  uint16_t GetHeight() override { return 240; }
};

// The simulated camera, the driver module as a recorder loads it, and the
// same driver built into this program for the motion channel alone.
struct Rig {
  Rig() {
    SimulatedCamera::Options options;
    options.model = "SED2300";
    camera = std::make_unique<SimulatedCamera>(options);
    EXPECT_TRUE(camera->Start());
    setup.httpPort = camera->HttpPort();
    setup.params[7] = std::to_string(camera->RtspPort());
    module = dlopen(STRANDLINE_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(module, nullptr) << dlerror();
    destroy = reinterpret_cast<StrandlineDeleteFn>(dlsym(module, "DeleteIPCaptureEx5"));
    exported = reinterpret_cast<StrandlineCreateFn>(dlsym(module, "CreateIPCaptureEx5"))();
    EXPECT_TRUE(exported->Open(&log, &allocator, &setup));
    EXPECT_TRUE(local.Open(&log, &allocator, &setup));
    local.GetDeviceInfo()->connectTimeoutMs = 2000;
  }
  ~Rig() {
    destroy(exported);
    local.Close();
    camera->Stop();
    dlclose(module);
  }

  Setup setup;
  Log log;
  test::TestAllocator allocator;
  test::TestSink sink;
  std::unique_ptr<SimulatedCamera> camera;
  void* module = nullptr;
  StrandlineDeleteFn destroy = nullptr;
  IIPCaptureDriverEx5* exported = nullptr;
  CActiIPCaptureDriver local;
};

TEST(IoEvents, InputsAndOutputsThroughTheExportedDriver) {
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
}

TEST(IoEvents, MotionReachesTheHostInOrderWithEveryByteAChunk) {
  Rig rig;
  rig.camera->Motion().SetInterval(200ms);
  rig.camera->Motion().SetByteChunks(true);
  Request request;
  IIPVideoCapture* capture = rig.exported->GetVideoCapture();
  ASSERT_TRUE(capture->StartCapture(0, &rig.sink, &request));
  ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 2; }, 20s));
  rig.camera->Motion().SetMotion(true);
  ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 3; }, 20s));
  rig.camera->Motion().SetMotion(false);
  ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 4; }, 20s));
  EXPECT_TRUE(capture->StopCapture(0));
  EXPECT_EQ(test::MotionStates(rig.sink), (std::vector<int>{1, 0, 1, 0}));
}

TEST(IoEvents, MotionSurvivesADropAndStopsInTimeWhileSilent) {
  Rig rig;
  rig.camera->Motion().SetInterval(100ms);
  std::unique_ptr<IMotionChannel> channel(rig.local.CreateMotionChannel(0, &rig.sink));
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
  EXPECT_EQ(rig.log.notStopped.load(), 0);
}

TEST(IoEvents, MotionStartStopCyclesLeaveNothingBehind) {
  Rig rig;
  std::unique_ptr<IMotionChannel> channel(rig.local.CreateMotionChannel(0, &rig.sink));
  // One cycle first, so that lazily made process-wide things exist.
  ASSERT_TRUE(channel->Start());
  ASSERT_TRUE(WaitUntil([&] { return test::MotionStates(rig.sink).size() == 2; }));
  channel->Stop();
  const int threads = test::SettledCount("/proc/self/task");
  const int descriptors = test::SettledCount("/proc/self/fd");
  for (int i = 0; i < 200; ++i) {
    const size_t asked = rig.camera->CgiRequests().size();
    ASSERT_TRUE(channel->Start()) << i;
    ASSERT_TRUE(WaitUntil([&] { return rig.camera->CgiRequests().size() > asked; })) << i;
    channel->Stop();
  }
  EXPECT_EQ(test::CountSettlesAt("/proc/self/task", threads), threads);
  EXPECT_EQ(test::CountSettlesAt("/proc/self/fd", descriptors), descriptors);
  EXPECT_TRUE(WaitUntil([&] { return rig.camera->Motion().OpenStreams() == 0; }));
  EXPECT_EQ(rig.log.notStopped.load(), 0);
}

}  // namespace
