// Digital I/O and motion events end to end: the driver module loaded as a
// host loads it, opened for the simulated camera, its I/O object and motion
// channels driven through the host-facing interfaces.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/acti_ip_capture_driver.h"
#include "io/imotion_channel.h"
#include "sim/simulated_camera.h"
#include "strandline/capture_io.h"
#include "strandline/exports.h"
#include "support/process_counts.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

using namespace orbisan;
using namespace orbisan::ipcapture;
using namespace std::chrono_literals;
using orbisan::test::WaitUntil;
using strandline::sim::SimulatedCamera;

namespace {

class Setup : public ICaptureSetup, public IUnitInfo, public IConnectionInfo {
 public:
  IUnitInfo* GetUnitInfo() override { return this; }
  IConnectionInfo* GetConnectionInfo() override { return this; }
  uint32_t GetParameterCount() override { return 0; }
  const char* GetParameter(uint32_t index) override {
    auto it = params.find(index);
    if (it != params.end()) return it->second.c_str();
    return index <= 16 ? "(none)" : nullptr;
  }
  const char* GetName() override { return "sim"; }
  const char* GetModel() override { return model.c_str(); }
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

  std::map<uint32_t, std::string> params;
  std::string model = "SED2300";
  uint16_t httpPort = 0;
};

class Log : public IDebugOutput {
 public:
  void Output(CDebugInfoIf* info) override {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(info->GetText() ? info->GetText() : "");
  }
  int Count(const std::string& needle) {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const auto& l : lines) n += l.find(needle) != std::string::npos;
    return n;
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

class Callback : public IIOCallback {
 public:
  void OnInputStateChanged(uint32_t index, uint32_t state) override {
    std::lock_guard<std::mutex> lock(mutex);
    changes.push_back({index, state, std::chrono::steady_clock::now()});
  }
  void OnIOFailure() override {}
  struct Change {
    uint32_t index;
    uint32_t state;
    std::chrono::steady_clock::time_point at;
  };
  std::vector<Change> Changes() {
    std::lock_guard<std::mutex> lock(mutex);
    return changes;
  }
  std::mutex mutex;
  std::vector<Change> changes;
};

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

// Motion bytes of the MEMD frames a sink received, in order.
std::vector<int> MotionStates(test::TestSink& sink) {
  std::vector<int> out;
  for (const auto& frame : sink.Frames()) {
    if (frame.fourcc == kFourCC_MEMD && frame.bytes.size() == 2) out.push_back(frame.bytes[1]);
  }
  return out;
}

// The simulated camera and the driver module, as a recorder loads it.
class ExportRig {
 public:
  ExportRig() {
    SimulatedCamera::Options options;
    options.model = setup.model;
    camera = std::make_unique<SimulatedCamera>(options);
    std::string error;
    EXPECT_TRUE(camera->Start(&error)) << error;
    setup.httpPort = camera->HttpPort();
    setup.params[5] = "1";
    setup.params[7] = std::to_string(camera->RtspPort());
    module = dlopen(STRANDLINE_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(module, nullptr) << dlerror();
    auto create = reinterpret_cast<StrandlineCreateFn>(dlsym(module, "CreateIPCaptureEx5"));
    destroy = reinterpret_cast<StrandlineDeleteFn>(dlsym(module, "DeleteIPCaptureEx5"));
    driver = create();
    EXPECT_TRUE(driver->Open(&log, &allocator, &setup));
  }
  ~ExportRig() {
    destroy(driver);
    camera->Stop();
    dlclose(module);
  }

  Setup setup;
  Log log;
  test::TestAllocator allocator;
  std::unique_ptr<SimulatedCamera> camera;
  void* module = nullptr;
  StrandlineDeleteFn destroy = nullptr;
  IIPCaptureDriverEx5* driver = nullptr;
};

TEST(IoEvents, InputsAndOutputsThroughTheExportedDriver) {
  ExportRig rig;
  ICaptureIOApi* io = rig.driver->GetDigitalIO();
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->GetInputCount(), 2u);
  EXPECT_EQ(io->GetOutputCount(), 2u);
  Callback callback;
  ASSERT_TRUE(io->SetCallback(&callback));
  ASSERT_TRUE(io->StartIO());
  ASSERT_TRUE(WaitUntil([&] { return callback.Changes().size() == 2; }));

  // A toggled input reaches the host within a poll period and the request.
  const auto toggled = std::chrono::steady_clock::now();
  rig.camera->SetDigitalInputs(0x01);
  ASSERT_TRUE(WaitUntil([&] { return callback.Changes().size() == 3; }));
  const auto change = callback.Changes().back();
  EXPECT_EQ(change.index, 0u);
  EXPECT_EQ(change.state, 1u);
  const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(change.at - toggled);
  EXPECT_LT(delay, 2000ms + 1000ms);
  RecordProperty("input_delay_ms", static_cast<int>(delay.count()));

  // What the host sets is what the camera's register holds.
  ASSERT_TRUE(WaitUntil([&] { return rig.camera->CgiRequests().size() >= 4; }));
  const std::pair<uint32_t, uint32_t> sets[] = {{1, 1}, {0, 1}, {1, 2}};
  const uint32_t registers[] = {0x02, 0x03, 0x01};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(io->SetOutputState(sets[i].first, sets[i].second));
    ASSERT_TRUE(WaitUntil([&] { return rig.camera->DigitalOutputs() == registers[i]; })) << i;
  }
  EXPECT_FALSE(io->SetOutputState(2, 1));
  EXPECT_TRUE(io->StopIO());
}

TEST(IoEvents, MotionReachesTheHostAsFramesInOrderWithByteChunks) {
  ExportRig rig;
  rig.camera->Motion().SetInterval(200ms);
  rig.camera->Motion().SetByteChunks(true);
  test::TestSink sink;
  Request request;
  IIPVideoCapture* capture = rig.driver->GetVideoCapture();
  ASSERT_TRUE(capture->StartCapture(0, &sink, &request));
  ASSERT_TRUE(WaitUntil([&] { return MotionStates(sink).size() == 2; }, 20s));
  rig.camera->Motion().SetMotion(true);
  ASSERT_TRUE(WaitUntil([&] { return MotionStates(sink).size() == 3; }, 20s));
  rig.camera->Motion().SetMotion(false);
  ASSERT_TRUE(WaitUntil([&] { return MotionStates(sink).size() == 4; }, 20s));
  EXPECT_TRUE(capture->StopCapture(0));
  EXPECT_EQ(MotionStates(sink), (std::vector<int>{1, 0, 1, 0}));
  for (const auto& request : rig.camera->CgiRequests()) {
    if (request.query.find("GET_CTRL_MSG") != std::string::npos) {
      EXPECT_EQ(request.path, "/cgi-bin/encoder");
      EXPECT_EQ(request.query, "USER=admin&PWD=admin&GET_CTRL_MSG=MD,3");
    }
  }
}

// The driver object in this process, for the motion channel alone.
struct MotionRig {
  MotionRig() {
    SimulatedCamera::Options options;
    options.model = setup.model;
    camera = std::make_unique<SimulatedCamera>(options);
    std::string error;
    EXPECT_TRUE(camera->Start(&error)) << error;
    camera->Motion().SetInterval(100ms);
    setup.httpPort = camera->HttpPort();
    setup.params[5] = "1";
    EXPECT_TRUE(driver.Open(&log, &allocator, &setup));
    driver.GetDeviceInfo()->connectTimeoutMs = 2000;
    driver.GetDeviceInfo()->signalTimeoutMs = 3000;
  }
  ~MotionRig() {
    driver.Close();
    camera->Stop();
  }
  Setup setup;
  Log log;
  test::TestAllocator allocator;
  test::TestSink sink;
  std::unique_ptr<SimulatedCamera> camera;
  CActiIPCaptureDriver driver;
};

TEST(IoEvents, MotionStopIsBoundedWhileSilentAndRecoversFromADrop) {
  MotionRig rig;
  std::unique_ptr<IMotionChannel> channel(rig.driver.CreateMotionChannel(0, &rig.sink));
  ASSERT_TRUE(channel->Start());
  ASSERT_TRUE(WaitUntil([&] { return MotionStates(rig.sink).size() == 2; }));

  // A dropped connection is taken up again; motion still arrives.
  rig.camera->Motion().DropConnections();
  rig.camera->Motion().SetMotion(true);
  ASSERT_TRUE(WaitUntil([&] { return MotionStates(rig.sink).size() == 3; }));
  EXPECT_EQ(rig.sink.signalLost.load(), 0);

  rig.camera->Motion().SetSilent(true);
  const uint64_t parts = rig.camera->Motion().PartsSent();
  std::this_thread::sleep_for(300ms);  // let the stream go quiet while open
  EXPECT_EQ(rig.camera->Motion().PartsSent(), parts);
  const auto begin = std::chrono::steady_clock::now();
  channel->Stop();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
  EXPECT_LT(took, 2000ms + 1000ms);
  RecordProperty("silent_stop_ms", static_cast<int>(took.count()));
  EXPECT_EQ(rig.log.Count("was not stopped"), 0);
}

TEST(IoEvents, MotionStartStopCyclesLeaveNothingBehind) {
  MotionRig rig;
  std::unique_ptr<IMotionChannel> channel(rig.driver.CreateMotionChannel(0, &rig.sink));
  // One cycle first, so that lazily made process-wide things exist.
  ASSERT_TRUE(channel->Start());
  ASSERT_TRUE(WaitUntil([&] { return MotionStates(rig.sink).size() == 2; }));
  channel->Stop();
  const int threads = test::SettledCount("/proc/self/task");
  const int descriptors = test::SettledCount("/proc/self/fd");
  for (int i = 0; i < 200; ++i) {
    const size_t asked = rig.camera->CgiRequests().size();
    ASSERT_TRUE(channel->Start()) << i;
    ASSERT_TRUE(WaitUntil([&] { return rig.camera->CgiRequests().size() > asked; })) << i;
    channel->Stop();
  }
  EXPECT_LE(test::CountBackTo("/proc/self/task", threads), threads);
  EXPECT_LE(test::CountBackTo("/proc/self/fd", descriptors), descriptors);
  EXPECT_TRUE(WaitUntil([&] { return rig.camera->Motion().OpenStreams() == 0; }));
  EXPECT_EQ(rig.log.Count("was not stopped"), 0);
}

}  // namespace
