#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "audio/audio_output_channel.h"
#include "audio/ip_audio_sender.h"
#include "camera/scripted_http_server.h"
#include "support/test_driver.h"
#include "support/test_samples.h"
#include "support/wait_until.h"
#include "vendor/fake_kmpeg4.h"

namespace orbisan::test {
namespace {

using namespace ipcapture;
using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

struct Format : IAudioFormat {
  Format(uint32_t f, bool e) : fourcc(f), enabled(e) {}
  bool IsEnabled() override { return enabled; }
  uint32_t GetFourCC() override { return fourcc; }
  uint32_t fourcc;
  bool enabled;
};

struct Formats : IAudioFormatList {
  uint32_t GetCount() override { return static_cast<uint32_t>(list.size()); }
  IAudioFormat* GetFormat(uint32_t i) override { return i < list.size() ? &list[i] : nullptr; }
  std::vector<Format> list;
};

struct Observer : IAudioOutputObserver {
  void OnAudioOutputState(uint32_t, uint32_t state) override {
    std::lock_guard<std::mutex> guard(mutex);
    states.push_back(state);
  }
  std::vector<uint32_t> States() {
    std::lock_guard<std::mutex> guard(mutex);
    return states;
  }
  std::mutex mutex;
  std::vector<uint32_t> states;
};

struct Creator : IAudioChannelCreator {
  IAudioInputChannel* CreateAudioCaptureChannel(uint32_t, uint32_t, void*, void*) override { return nullptr; }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t a, uint32_t b, void* c, void* d) override {
    return new CAudioOutputChannel(driver, a, b, static_cast<IAudioOutputObserver*>(c),
                                   static_cast<IAudioFormatList*>(d), lib);
  }
  IDriver* driver = nullptr;
  const KMpeg4Library* lib = nullptr;
};

using strandline::host::HostAudioSample;

HostAudioSample Buffer(const std::vector<uint8_t>& bytes, uint32_t channelId = 7) {
  HostAudioSample buffer(kFourCC_711M, static_cast<uint32_t>(bytes.size()), "talk");
  buffer.SetData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  buffer.SetFormat(8000, 8, false);
  buffer.SetBitRate(64000);
  buffer.SetChannelId(channelId);
  return buffer;
}

class AudioSenderTest : public ::testing::Test {
 protected:
  AudioSenderTest()
      : server_({}, [this](const std::string&) {
          {
            std::lock_guard<std::mutex> guard(mutex_);
            checks_.push_back(Clock::now());
          }
          hold_.Wait(kInfinite);
          HttpReply reply;
          reply.body = answer_;
          return reply;
        }) {
    hold_.Set();
    driver_.info.port = server_.Port();
    driver_.info.user = "admin";
    driver_.info.password = "secret";
    creator_.driver = &driver_;
    creator_.lib = &fake_.lib;
    formats_.list = {{0x12345678, true}, {kFourCC_711M, true}};
  }
  ~AudioSenderTest() override { hold_.Set(); }
  std::vector<Clock::time_point> Checks() {
    std::lock_guard<std::mutex> guard(mutex_);
    return checks_;
  }

  std::string answer_ = "V2_AUDIO_ENABLED='1'\r\n";
  CManualEvent hold_;
  std::mutex mutex_;
  std::vector<Clock::time_point> checks_;
  ScriptedHttpServer server_;
  TestDriver driver_;
  FakeKMpeg4 fake_;
  Creator creator_;
  Formats formats_;
  Observer observer_;
};

TEST_F(AudioSenderTest, OnlyTheNewestWaitingBufferIsSentAndBadBuffersAreRefused) {
  CIPAudioSender sender(&creator_, 1);
  hold_.Reset();  // the camera check holds the channel's thread
  ASSERT_TRUE(sender.OpenChannel(7, 2, &observer_, &formats_));
  EXPECT_TRUE(sender.OpenChannel(7, 2, &observer_, &formats_)) << "already open";
  EXPECT_FALSE(sender.OpenChannel(8, 2, &observer_, &formats_)) << "one channel at most";
  ASSERT_TRUE(WaitUntil([&] { return Checks().size() == 1; }));

  HostAudioSample empty = Buffer({});
  EXPECT_FALSE(sender.SendAudio(&empty));
  HostAudioSample stereo = Buffer({1, 2});
  stereo.SetFormat(8000, 8, true);
  EXPECT_FALSE(sender.SendAudio(&stereo));
  HostAudioSample older = Buffer(std::vector<uint8_t>(600, 0x00));
  HostAudioSample newer = Buffer(std::vector<uint8_t>(600, 0x80));
  EXPECT_TRUE(sender.SendAudio(&older));
  EXPECT_TRUE(sender.SendAudio(&newer));
  hold_.Set();
  ASSERT_TRUE(WaitUntil([&] { return fake_.CountOf("KSendAudio") == 2; }));
  // 600 codes are 1200 bytes of samples: one full block and the rest.
  const auto sent = fake_.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].size(), 1024u);
  EXPECT_EQ(sent[1].size(), 176u);
  EXPECT_EQ(sent[0][0], 0x5F) << "only the newer buffer (+8031) went out";
  EXPECT_EQ(sender.GetChannelState(7), static_cast<uint32_t>(kAudioRunning));
  EXPECT_TRUE(sender.CloseChannel(7));
  EXPECT_FALSE(sender.CloseChannel(7));
  EXPECT_THAT(observer_.States(), ElementsAre(kAudioStarting, kAudioRunning, kAudioStopping, kAudioStopped));
  EXPECT_THAT(fake_.Calls(), ElementsAre("KOpenInterface", "KSetMediaConfig", "KGetAudioToken", "KSendAudio",
                                         "KSendAudio", "KFreeAudioToken", "KCloseInterface"));
  const std::vector<uint8_t> record = fake_.Record();
  EXPECT_EQ(record[4], 2) << "camera channel number";
}

TEST_F(AudioSenderTest, ACameraThatRefusesAudioIsRetriedEvery1500MsUntilStopped) {
  answer_ = "ERROR: V2_AUDIO_ENABLED\r\n";
  CIPAudioSender sender(&creator_, 1);
  ASSERT_TRUE(sender.OpenChannel(7, 1, &observer_, &formats_));
  ASSERT_TRUE(WaitUntil([&] { return Checks().size() >= 3; }));
  EXPECT_TRUE(sender.CloseChannel(7));
  const size_t checks = Checks().size();
  const auto times = Checks();
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(1450));
  for (uint32_t state : observer_.States()) EXPECT_NE(state, static_cast<uint32_t>(kAudioRunning));
  EXPECT_EQ(observer_.States().back(), static_cast<uint32_t>(kAudioStopped));
  EXPECT_EQ(Checks().size(), checks) << "no check after the stop";
  EXPECT_EQ(fake_.CountOf("KOpenInterface"), 0u);
}

TEST_F(AudioSenderTest, AStalledLibraryHoldsOneSessionAtATime) {
  driver_.info.connectTimeoutMs = 300;
  fake_.connectRelease.Reset();
  CIPAudioSender sender(&creator_, 1);
  ASSERT_TRUE(sender.OpenChannel(7, 1, &observer_, &formats_));
  HostAudioSample buffer = Buffer(std::vector<uint8_t>(80, 0xFF));
  const auto talkUntil = [&](const std::function<bool()>& done) {
    return WaitUntil(
        [&] {
          sender.SendAudio(&buffer);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          return done();
        },
        std::chrono::seconds(30));
  };
  // The host goes on talking through several retries while the first session hangs.
  const auto waits = [&] { return driver_.LinesWith("no new audio session until it has").size(); };
  ASSERT_TRUE(talkUntil([&] { return waits() > 0 && Checks().size() >= 4; }));
  EXPECT_EQ(fake_.CountOf("KOpenInterface"), 1u);
  EXPECT_EQ(waits(), 1u);
  fake_.connectRelease.Set();
  EXPECT_TRUE(talkUntil([&] { return fake_.CountOf("KSendAudio") > 0; }));
  EXPECT_TRUE(sender.CloseChannel(7));
}

TEST_F(AudioSenderTest, WithoutAnEnabledMuLawFormatTheChannelFails) {
  for (bool offered : {false, true}) {
    formats_.list = {{0x12345678, true}};
    if (offered) formats_.list.push_back({kFourCC_711M, false});
    Observer observer;
    CIPAudioSender sender(&creator_, 1);
    ASSERT_TRUE(sender.OpenChannel(7, 1, &observer, &formats_));
    ASSERT_TRUE(WaitUntil([&] { return sender.GetChannelState(7) == kAudioFailed; }));
    EXPECT_TRUE(Checks().empty());
    EXPECT_TRUE(sender.CloseChannel(7));
    EXPECT_THAT(observer.States(), ElementsAre(kAudioStarting, kAudioFailed, kAudioStopped));
  }
}

}  // namespace
}  // namespace orbisan::test
