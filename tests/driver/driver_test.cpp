#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "driver/acti_ip_capture_driver.h"
#include "driver/ip_video_capture.h"
#include "edge/iedge_storage.h"
#include "io/imotion_channel.h"
#include "strandline/exports.h"
#include "support/test_capture_setup.h"
#include "support/test_stream_request.h"

using namespace orbisan;
using namespace orbisan::ipcapture;

// The host core module's version as this test process reports it to the
// driver through the dynamic loader.
static bool g_versionSet = false;
static uint16_t g_version[4];
extern "C" __attribute__((visibility("default"))) int basalt_product_version(uint16_t out[4]) {
  if (!g_versionSet) return 0;
  for (int i = 0; i < 4; ++i) out[i] = g_version[i];
  return 1;
}

namespace {

// A device at 10.1.2.3:8080 with two inputs and one output.
struct HostSetup : test::TestCaptureSetup {
  HostSetup() {
    address = "10.1.2.3";
    port = 8080;
    password = "secret";
    model = "ACM-8221";
    inputs = 2;
    outputs = 1;
  }
};

void SetHostVersion(std::initializer_list<uint16_t> v) {
  std::copy(v.begin(), v.end(), g_version);
  g_versionSet = true;
}

}  // namespace

TEST(DriverLevels, AdaptationByHostVersion) {
  struct Case {
    HostVersion version;
    uint32_t in;
    uint32_t out;
  } cases[] = {
      {{5, 11, 9, 9}, 100, 2},  {{5, 11, 0, 0}, 3, 2}, {{5, 11, 0, 0}, 1, 1},       {{4, 99, 0, 0}, 100, 2},
      {{5, 12, 0, 0}, 100, 3},  {{5, 12, 0, 0}, 3, 3}, {{6, 2, 0, 0}, 100, 3},      {{6, 3, 0, 0}, 100, 100},
      {{7, 0, 0, 0}, 100, 100}, {{5, 11, 0, 0}, 4, 0}, {{6, 3, 0, 0}, 0x1FF, 0xFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CIPCaptureDriver::AdaptLevel(c.in, c.version), c.out)
        << "level " << c.in << " host " << c.version[0] << "." << c.version[1];
  }
}

TEST(DriverOpen, IntegerParametersNoneTextDeviceRecordTimeoutsCloseTwiceAndAudioObjectsAsTheCapabilitiesAskForThem) {
  HostSetup setup;
  setup.params = {{1, "1"}, {2, "(none)"}, {3, " 7"}, {4, "-12"}, {5, "2"}, {6, "-2147483648"}};
  CActiIPCaptureDriver driver;
  ASSERT_TRUE(driver.Open(nullptr, nullptr, &setup));
  EXPECT_EQ(driver.GetStringParameter(2), "");
  EXPECT_EQ(driver.GetIntParameter(2), kNoIntParameter);
  EXPECT_EQ(driver.GetIntParameter(3), kNoIntParameter);
  EXPECT_EQ(driver.GetStringParameter(3), " 7");
  EXPECT_EQ(driver.GetIntParameter(4), -12);
  EXPECT_EQ(driver.GetIntParameter(6), kNoIntParameter + 1) << "a number never reads as no parameter";
  EXPECT_EQ(driver.GetIntParameter(9), kNoIntParameter);
  EXPECT_EQ(driver.GetVideoStandard(0, 0), 1);
  // Parameters are read once, at open, from 1 up to the first missing one.
  EXPECT_EQ(setup.parameterCalls[7], 1);
  EXPECT_EQ(setup.parameterCalls.count(8), 0u);
  driver.GetStringParameter(5);
  EXPECT_EQ(setup.parameterCalls[5], 1);

  HostSetup bare;  // GetParameter(1) is null: no parameters at all
  test::TestLog log;
  CActiIPCaptureDriver opened;
  ASSERT_TRUE(opened.Open(&log, nullptr, &bare));
  EXPECT_EQ(bare.parameterCalls[1], 1);
  EXPECT_EQ(bare.parameterCalls.count(2), 0u);
  EXPECT_EQ(opened.GetIntParameter(5), kNoIntParameter);
  DEVICE_INFO* info = opened.GetDeviceInfo();
  EXPECT_EQ(std::tuple(info->connectTimeoutMs, info->signalTimeoutMs, info->address, info->port),
            std::tuple(5000u, 15000u, "10.1.2.3", 8080));
  EXPECT_EQ(opened.GetDeviceName(), "10.1.2.3:8080");
  EXPECT_EQ(opened.GetIOCounts(), (std::pair<uint32_t, uint32_t>(2, 1)));
  EXPECT_EQ(opened.GetDefaultCodec(), 3u);
  ASSERT_NE(opened.GetVideoCapture(), nullptr);
  EXPECT_EQ(opened.GetVideoCapture(), opened.GetVideoCaptureEx());
  EXPECT_EQ(opened.GetVideoCaptureEx2()->GetChannelCount(), 1u);
  EXPECT_EQ(opened.QueryReserved5(), nullptr);
  EXPECT_EQ(opened.QueryReserved7(), nullptr);
  opened.Close();
  opened.Close();
  EXPECT_EQ(opened.GetVideoCapture(), nullptr);
  EXPECT_EQ(opened.GetDeviceInfo()->address, "10.1.2.3") << "the device record outlives Close";

  // Camera group 0 means the longer time-outs.
  HostSetup group0;
  group0.params = {{1, "0"}, {2, ""}, {3, ""}, {4, ""}, {5, "0"}};
  CActiIPCaptureDriver slow;
  ASSERT_TRUE(slow.Open(nullptr, nullptr, &group0));
  EXPECT_EQ(std::pair(slow.GetDeviceInfo()->connectTimeoutMs, slow.GetDeviceInfo()->signalTimeoutMs),
            std::pair(10000u, 30000u));

  HostSetup audio;
  audio.params = {{101, "Count=1; IsStereo=0"}};
  CActiIPCaptureDriver withInput;
  EXPECT_TRUE(withInput.Open(nullptr, nullptr, &audio));
  EXPECT_NE(withInput.GetAudioCapture(), nullptr);
  withInput.Close();
  EXPECT_EQ(withInput.GetAudioCapture(), nullptr);
  audio.params = {{101, "Count=0; IsStereo=0"}, {102, "Count=1; IsStereo=0"}};
  CActiIPCaptureDriver outputOnly;
  EXPECT_TRUE(outputOnly.Open(nullptr, nullptr, &audio));
  EXPECT_EQ(outputOnly.GetAudioCapture(), nullptr);
  EXPECT_NE(outputOnly.GetAudioSender(), nullptr);
  outputOnly.Close();
  EXPECT_EQ(outputOnly.GetAudioSender(), nullptr);
  audio.params = {{102, "garbage"}};
  CActiIPCaptureDriver other;
  EXPECT_FALSE(other.Open(nullptr, nullptr, &audio)) << "a present audio text without an object fails open";
}

TEST(DriverOpen, OpenedLineThroughTheExportsAndTheHostVersion) {
  void* module = dlopen(STRANDLINE_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  // Every generation of the factory pair is exported, and any deleter takes any object.
  const std::string generations[] = {"", "Ex", "Ex2", "Ex3", "Ex4", "Ex5"};
  struct Case {
    std::initializer_list<uint16_t> version;
    bool set;
    int level;
    const char* model;  // empty: no opened line
  } cases[] = {{{0, 0, 0, 0}, false, 3, "ACM-8221"},
               {{6, 3, 0, 0}, true, 100, "ACM-8221"},
               {{5, 11, 2, 1}, true, 2, "ACM-8221"},
               {{6, 3, 0, 0}, true, 100, ""}};
  for (int i = 0; i < 6; ++i) {
    const Case& c = cases[i % 4];
    SetHostVersion(c.version);
    g_versionSet = c.set;
    auto create = reinterpret_cast<StrandlineCreateFn>(dlsym(module, ("CreateIPCapture" + generations[i]).c_str()));
    auto destroy =
        reinterpret_cast<StrandlineDeleteFn>(dlsym(module, ("DeleteIPCapture" + generations[(i + 1) % 6]).c_str()));
    ASSERT_NE(create, nullptr) << generations[i];
    ASSERT_NE(destroy, nullptr) << generations[i];
    HostSetup setup;
    setup.model = c.model;
    setup.params = {{1, "0"}, {2, "(none)"}, {3, ""}, {4, ""}, {5, "1"}, {6, ""}, {7, ""}, {8, "A1D-500-V6.12.02-AC"}};
    test::TestLog log;
    IIPCaptureDriverEx5* driver = create();
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->Open(&log, nullptr, &setup));
    if (*c.model == '\0') {
      EXPECT_TRUE(log.Lines().empty());
    } else {
      ASSERT_EQ(log.Lines().size(), 1u);
      EXPECT_EQ(log.Levels()[0], c.level);
      EXPECT_EQ(log.Lines()[0],
                "DRIVER IS OPENED (name: Strandline, device model: ACM-8221, FW: A1D-500-V6.12.02-AC, address: "
                "10.1.2.3:8080)");
    }
    destroy(driver);
    destroy(nullptr);
  }
  g_versionSet = false;
  dlclose(module);
}

namespace {

// Channels that record what the capture object does with them; safe from
// any thread, so that concurrent host calls can use them too.
struct Journal {
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(event);
  }
  std::mutex mutex;
  std::vector<std::string> events;
  std::atomic<int> alive{0};
};

class FakeChannel : public ICameraChannel {
 public:
  FakeChannel(Journal& j, std::string name, bool startOk) : j_(j), name_(std::move(name)), startOk_(startOk) {
    ++j_.alive;
  }
  ~FakeChannel() override {
    j_.Add("delete " + name_);
    --j_.alive;
  }
  uint32_t GetChannelIndex() override { return 0; }
  IVideoFrameSink* GetFrameSink() override { return nullptr; }
  void SetEdgeStorageCallback(IEdgeStorageCallback*) override {}
  void SetPrivacyMask(IPrivacyZoneList* zones) override {
    j_.Add(std::string("mask ") + name_ + (zones ? " zones" : " none"));
  }
  bool Start(const STREAM_PARAMS* p) override {
    params = *p;
    j_.Add("start " + name_);
    state = Streaming;
    std::this_thread::yield();  // widens the window between stop and store
    return startOk_;
  }
  void Stop() override {
    j_.Add("stop " + name_);
    state = Stopped;
  }
  bool Restart(const STREAM_PARAMS* p) override {
    params = *p;
    j_.Add("restart " + name_);
    return true;
  }
  bool StartEdgeMonitoring() override { return true; }
  bool StopEdgeMonitoring() override { return true; }
  ChannelState GetState() override { return state; }

  STREAM_PARAMS params;
  std::atomic<ChannelState> state = Stopped;

 private:
  Journal& j_;
  std::string name_;
  bool startOk_;
};

class FakeMotion : public IMotionChannel {
 public:
  FakeMotion(Journal& j, bool ok) : j_(j), ok_(ok) {}
  ~FakeMotion() override { j_.Add("delete motion"); }
  uint32_t GetChannelIndex() override { return 0; }
  IVideoFrameSink* GetFrameSink() override { return nullptr; }
  void SetEdgeStorageCallback(IEdgeStorageCallback*) override {}
  bool Start() override {
    j_.Add("start motion");
    return ok_;
  }
  void Stop() override { j_.Add("stop motion"); }
  void RequestStop() override {}

 private:
  Journal& j_;
  bool ok_;
};

// Counts the channels registered with it.
class CountingHandler : public IEdgeStorageHandler {
 public:
  void RegisterChannel(IEdgeMonitorChannel*) override { ++registered; }
  void UnregisterChannel(IEdgeMonitorChannel* channel) override {
    if (channel != nullptr) ++unregistered;
  }
  IVideoFrameSink* FindChannel(uint32_t) override { return nullptr; }
  bool DeliverFrame(uint32_t, IMediaSample*) override { return false; }
  std::atomic<int> registered{0};
  std::atomic<int> unregistered{0};
};

class Creator : public IVideoChannelCreator {
 public:
  explicit Creator(Journal& j) : j_(j) {}
  ICameraChannel* CreateVideoChannel(uint32_t input, IVideoFrameSink*, STREAM_PARAMS* p) override {
    if (p->codec == 9) return nullptr;
    static const char* kinds[] = {"rec", "live", "remote"};
    FakeChannel* channel = new FakeChannel(j_, std::string(kinds[p->streamKind % 3]) + std::to_string(input), startOk);
    last = channel;
    return channel;
  }
  IMotionChannel* CreateMotionChannel(uint32_t, IVideoFrameSink*) override { return new FakeMotion(j_, motionOk); }
  IEdgeStorageHandler* CreateEdgeStorageHandler() override {
    ++handlersMade;
    auto* handler = new CountingHandler;
    lastHandler = handler;
    return handler;
  }
  FakeChannel* Last() { return last.load(); }
  std::atomic<FakeChannel*> last{nullptr};
  bool startOk = true;
  bool motionOk = true;
  std::atomic<int> handlersMade{0};
  std::atomic<CountingHandler*> lastHandler{nullptr};

 private:
  Journal& j_;
};

}  // namespace

TEST(IPVideoCapture, StartCaptureStopsWhatTheInputHadFailedStartsAreStoredStreamStateParametersAndMissingChannels) {
  Journal j;
  Creator creator(j);
  CIPVideoCapture capture(&creator, 2);
  test::TestStreamRequest request(3, 1280, 720, 40);  // 720p H.264 at 25 frames a second, 5 Mbit/s
  request.bitrate = 5;
  ASSERT_TRUE(capture.StartCapture(1, nullptr, &request));
  const auto fields = [](const STREAM_PARAMS& p) {
    return std::tuple(p.frameRate, p.bitrate, p.width, p.height, p.codec, p.streamKind);
  };
  EXPECT_EQ(fields(creator.Last()->params), std::tuple(40u, 5u, 1280u, 720u, 3u, 0u));
  ASSERT_TRUE(capture.StartStream(1, 1, nullptr, &request));
  ASSERT_TRUE(capture.StartStream(1, 2, nullptr, &request));
  EXPECT_EQ(creator.Last()->params.streamKind, 2u);
  j.events.clear();
  ASSERT_TRUE(capture.StartCapture(1, nullptr, &request));
  const std::vector<std::string> expected = {"stop live1", "delete live1", "stop remote1",   "delete remote1",
                                             "stop rec1",  "delete rec1",  "mask rec1 none", "start rec1"};
  EXPECT_EQ(j.events, expected);
  EXPECT_FALSE(capture.StartCapture(2, nullptr, &request)) << "input out of range";

  // A failing motion start still stores both channels.
  creator.motionOk = false;
  request.motion = 1;
  EXPECT_FALSE(capture.StartCapture(0, nullptr, &request));
  j.events.clear();
  EXPECT_TRUE(capture.StopCapture(0));
  EXPECT_EQ(j.events, (std::vector<std::string>{"stop motion", "delete motion", "stop rec0", "delete rec0"}));
  EXPECT_FALSE(capture.StopCapture(0)) << "nothing left to stop";
  // A failing channel start is stored too and removed by the next stop.
  creator.startOk = false;
  request.motion = 0;
  EXPECT_FALSE(capture.StartCapture(0, nullptr, &request));
  EXPECT_TRUE(capture.StopCapture(0));
  request.codec = 9;
  EXPECT_FALSE(capture.StartCapture(0, nullptr, &request)) << "no channel for the codec";

  creator.startOk = true;
  request.codec = 3;
  CIPVideoCapture single(&creator, 1);
  uint32_t state = 99, reserved = 99;
  uint8_t text[4] = {'x', 'x', 'x', 0};
  EXPECT_FALSE(single.GetStreamState(0, &state, &reserved, text, sizeof text));
  EXPECT_EQ(reserved, 0u);
  EXPECT_EQ(text[0], 0);
  ipcapture::IFrameSize* size = nullptr;
  EXPECT_FALSE(single.ChangeFrameSize(0, size, 25)) << "no recording stream";
  EXPECT_FALSE(single.StopStream(0, 1));
  EXPECT_FALSE(single.StartEdgeMonitoring(0));

  ASSERT_TRUE(single.StartCapture(0, nullptr, &request));
  // A stopped channel reads as signal lost.
  const std::pair<ChannelState, uint32_t> states[] = {{Streaming, 0}, {Stopped, 2}, {Connecting, 1}};
  for (const auto& [channelState, hostState] : states) {
    creator.Last()->state = channelState;
    ASSERT_TRUE(single.GetStreamState(0, &state, &reserved, nullptr, 0));
    EXPECT_EQ(state, hostState) << channelState;
  }

  // Restart keeps codec and kind out of the new request (both 0).
  ASSERT_TRUE(single.ChangeFrameSize(0, request.GetVideoFormat()->GetFrameSize(), 0x7000 | 12));
  EXPECT_EQ(creator.Last()->params.frameRate, 0x7000u | 12);
  EXPECT_EQ(creator.Last()->params.codec, 0u);
  EXPECT_EQ(creator.Last()->params.width, 1280u);

  uint16_t on = 1, value = 7;
  EXPECT_FALSE(single.SetParameter("EdgeStorageState", &on, 4));
  ASSERT_TRUE(single.GetParameter("edgestoragestate", &value, 2));
  EXPECT_EQ(value, 0) << "a size-4 set must change nothing";
  EXPECT_TRUE(single.SetParameter("EDGESTORAGESTATE", &on, 2));
  ASSERT_TRUE(single.GetParameter("EdgeStorageState", &value, 2));
  EXPECT_EQ(value, 1);
  EXPECT_FALSE(single.SetParameter("Other", &on, 2));
  EXPECT_FALSE(single.SetParameter(nullptr, &on, 2));
  EXPECT_FALSE(single.GetParameter("EdgeStorageState", nullptr, 2));
  EXPECT_EQ(single.QueryReserved(), 0u);
}

// Host threads start, stop and configure inputs at the same time: one edge
// storage handler is made, and a channel replaced by a concurrent start of
// the same input is stopped and deleted, never left running unowned.
TEST(IPVideoCapture, ConcurrentHostCallsShareOneHandlerAndLeaveNoOrphans) {
  Journal j;
  Creator creator(j);
  {
    CIPVideoCapture capture(&creator, 2);
    const uint16_t on = 1;
    ASSERT_TRUE(capture.SetParameter("EdgeStorageState", &on, 2));
    test::TestStreamRequest request(3, 1280, 720, 40);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&capture, &request, t] {
        for (int i = 0; i < 50; ++i) {
          capture.StartCapture(static_cast<uint32_t>(t % 2), nullptr, &request);
          capture.StartStream(static_cast<uint32_t>(t % 2), 1, nullptr, &request);
          uint32_t state = 0;
          capture.GetStreamState(static_cast<uint32_t>((t + 1) % 2), &state, nullptr, nullptr, 0);
        }
      });
    }
    threads.emplace_back([&capture] {
      uint16_t value = 0;
      for (int i = 0; i < 200; ++i) {
        const uint16_t flag = 1;
        capture.SetParameter("EdgeStorageState", &flag, 2);
        capture.GetParameter("EdgeStorageState", &value, 2);
      }
    });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(creator.handlersMade, 1);
    EXPECT_EQ(j.alive, 4) << "one recording and one live channel per input";
    CountingHandler* handler = creator.lastHandler;
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler->registered - handler->unregistered, 2) << "the two recording channels";
  }
  EXPECT_EQ(j.alive, 0);
}
