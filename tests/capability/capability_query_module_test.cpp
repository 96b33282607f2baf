// The capability query module with a stand-in for the camera identification:
// what reaches the host's store and callback, and how the worker ends.
#include "capability/capability_query_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include "support/capability_store_recorder.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

struct FakeProperties : CBaseCameraProperties {
  using CBaseCameraProperties::CBaseCameraProperties;
  bool Query(uint32_t& status) override { return query ? query(status) : true; }
  void GetProperties(ipcapture::ICapabilityStore& store) override { store.CreateItem(5)->SetValue("2"); }
  std::function<bool(uint32_t&)> query;
  using CBaseCameraProperties::audioIn_, CBaseCameraProperties::digitalInputs_, CBaseCameraProperties::edgeStorage_,
      CBaseCameraProperties::hostAtLeast61_, CBaseCameraProperties::hostAtLeast64_, CBaseCameraProperties::model_,
      CBaseCameraProperties::motionSupported_, CBaseCameraProperties::ntsc_, CBaseCameraProperties::privacyMaskCount_,
      CBaseCameraProperties::ptzSupported_, CBaseCameraProperties::streamCaps_, CBaseCameraProperties::streamCount_;
};

// Records the answers of a query; Wait gives up after 10 s.
struct Answers : ipcapture::ICapabilityQueryCallback {
  void OnCompleted() override { Add("completed"); }
  void OnFailed(uint32_t status, const char* message) override { Add(std::to_string(status) + " " + message); }
  void OnTerminated() override { Add("terminated"); }
  void Add(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    list.push_back(text);
  }
  std::vector<std::string> Wait() {
    WaitUntil([&] { return !Copy().empty(); });
    return Copy();
  }
  std::vector<std::string> Copy() {
    std::lock_guard<std::mutex> lock(mutex);
    return list;
  }
  std::mutex mutex;
  std::vector<std::string> list;
};

struct TestModule : CCapabilityQueryModule {
  TestModule(Answers* answers, std::function<void(FakeProperties&)> fill)
      : CCapabilityQueryModule(answers, 1), fill_(std::move(fill)) {}
  ~TestModule() override { Shutdown(); }
  CBaseCameraProperties* CreateCameraProperties() override {
    auto* properties = new FakeProperties(device_, ntscDefault_);
    fill_(*properties);
    return properties;
  }
  void SetConnectTimeout(uint32_t ms) { device_.connectTimeoutMs = ms; }
  std::function<void(FakeProperties&)> fill_;
};

// A camera with two H.264/MJPEG streams, PTZ, motion, audio in and storage.
struct ModuleTest : ::testing::Test {
  static void TwoStreams(FakeProperties& p) {
    p.model_ = "KCM5311";
    p.ptzSupported_ = p.motionSupported_ = p.edgeStorage_ = 1;
    p.audioIn_ = {1, 0};
    p.digitalInputs_ = 2;
    p.streamCount_ = 2;
    p.privacyMaskCount_ = 3;
    p.streamCaps_[0].codecs = {kCodecH264, kCodecMjpeg};
    p.streamCaps_[0].resolutions = {{640, 480, 30}, {1280, 720, 0}};
    p.streamCaps_[0].frameRates = {5, 15, 30, 60};
    p.streamCaps_[1] = p.streamCaps_[0];
    p.hostAtLeast64_ = p.hostAtLeast61_ = 1;
  }
  static void OldPalHostWithoutRates(FakeProperties& p) {
    TwoStreams(p);
    p.hostAtLeast61_ = p.hostAtLeast64_ = p.ntsc_ = 0;
    p.streamCaps_[0].frameRates.clear();
    p.streamCaps_[0].resolutions = {{352, 288, 0}};
  }
  static void NoMainCodec(FakeProperties& p) { TwoStreams(p), p.streamCaps_[0].codecs.clear(); }
  static void Offline(FakeProperties& p) {
    p.query = [](uint32_t& status) { return (status = 2) == 0; };
  }
  static void Throws(FakeProperties& p) {
    p.query = [](uint32_t&) -> bool { throw std::runtime_error("x"); };
  }

  std::vector<std::string> Run(std::function<void(FakeProperties&)> fill, const char* address = "127.0.0.1") {
    answers.list.clear();
    TestModule module(&answers, std::move(fill));
    EXPECT_EQ(module.Start(address, 8080, "admin", "pw", &store), 1u);
    return answers.Wait();
  }
  Answers answers;
  CapabilityStoreRecorder store;
};

TEST_F(ModuleTest, SavesEverythingInOrderAndCompletesAndOlderHostsAndFailuresReachTheHostOnce) {
  EXPECT_THAT(Run(TwoStreams), ElementsAre("completed"));
  EXPECT_EQ(store.deviceName, "ACTi KCM5311");
  EXPECT_EQ(store.connection[2].value + store.connection[4].value, "8080pw");
  EXPECT_THAT(store.capabilityOrder,
              ElementsAre(Pair(8, 1), Pair(7, 1), Pair(0, 1), Pair(1, 1), Pair(5, 1), Pair(11, 0), Pair(12, 0),
                          Pair(2, 2), Pair(13, 3), Pair(14, 1), Pair(17, 0), Pair(27, 1), Pair(4, 1), Pair(28, 1)));
  // A size without its own rate takes the highest rate of the stream: 60 on a 6.4 host.
  ASSERT_EQ(store.resolutions.list.size(), 2u);
  EXPECT_EQ(store.resolutions.list[1].text, "1280x720");
  EXPECT_EQ(store.resolutions.list[1].frameValue, 60u | 0x70000000u);
  EXPECT_EQ(store.frameRateSinkAsked, 1u);
  EXPECT_EQ(store.Item(120), "h264,jpeg");
  EXPECT_EQ(store.Item(121), "640x480:33,1280x720:1879048252");
  EXPECT_EQ(store.Item(122), "values=200,67,33,1879048252;default=33");
  EXPECT_EQ(store.items[122]->name, "Live Stream: Supported Framerates");
  EXPECT_EQ(store.Item(124), "<absent>");
  EXPECT_EQ(store.Item(101), "Count=1; IsStereo=0");
  EXPECT_EQ(store.Item(5), "2");  // the properties came last

  store = CapabilityStoreRecorder();
  EXPECT_THAT(Run(TwoStreams, "10.0.0.1:80"),
              ElementsAre("0 Failed to start capability fetching thread. Device address is invalid!"));
  EXPECT_THAT(Run(TwoStreams, "fe80::1"), ElementsAre(::testing::StartsWith("0 ")));
  EXPECT_THAT(Run(NoMainCodec), ElementsAre("3 Failed to save capability query results"));
  EXPECT_EQ(store.capabilities.count(0), 0u);
  EXPECT_THAT(Run(Offline),
              ElementsAre("2 Failed to get camera properties, device is offline or is located in unaccessible subnet"));
  EXPECT_THAT(Run(Throws), ElementsAre(std::string("3 ") + CCapabilityQueryModule::kUnexpected));
  // Older hosts see no extra streams and PAL falls back to 40; without rates
  // the frame-rate step fails, after the resolutions went out.
  EXPECT_THAT(Run(OldPalHostWithoutRates), ElementsAre("3 Failed to save capability query results"));
  EXPECT_EQ(store.resolutions.list.at(0).frameValue, 40u);
  EXPECT_EQ(store.capabilities.count(27), 0u);
  EXPECT_EQ(store.Item(120), "<absent>");
}

TEST_F(ModuleTest, OneQueryPerModuleAndATerminatedOrOutlivedQuerySavesNothingAndAnswersOnce) {
  CManualEvent release;
  {
    TestModule module(&answers, [&](FakeProperties& p) {
      TwoStreams(p);
      p.query = [&](uint32_t&) { return release.Wait(10000); };
    });
    ASSERT_EQ(module.Start("127.0.0.1", 80, "a", "b", &store), 1u);
    EXPECT_EQ(module.Start("127.0.0.1", 80, "a", "b", &store), 0u);
    module.Terminate();
    release.Set();
    EXPECT_THAT(answers.Wait(), ElementsAre(std::string("3 ") + CCapabilityQueryModule::kTerminated));
    EXPECT_EQ(module.Start("127.0.0.1", 80, "a", "b", &store), 0u);  // the thread still exists
  }
  EXPECT_TRUE(store.deviceName.empty());
  EXPECT_EQ(answers.list.size(), 1u);

  release.Reset();
  answers.list.clear();
  TestDriver log;
  auto module = std::make_unique<TestModule>(&answers, [&](FakeProperties& p) {
    TwoStreams(p);
    p.query = [&](uint32_t&) { return release.Wait(30000); };  // deaf to the stop event
  });
  module->SetConnectTimeout(50);
  module->SetLog(&log);
  ASSERT_EQ(module->Start("127.0.0.1", 80, "a", "b", &store), 1u);
  std::thread destroyer([&] { module.reset(); });
  EXPECT_THAT(answers.Wait(), ElementsAre("terminated"));
  EXPECT_EQ(log.LinesWith("was not stopped during 100 milliseconds").size(), 1u);
  release.Set();
  destroyer.join();  // the module went only once its worker had ended
  EXPECT_THAT(answers.list, ElementsAre("terminated"));
}

}  // namespace
}  // namespace orbisan::test
