#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "audio/audio_output_channel.h"
#include "audio/ip_audio_sender.h"
#include "camera/scripted_http_server.h"
#include "camera/stream_values.h"
#include "channels/sdk_channel.h"
#include "support/mpeg4_headers.h"
#include "support/test_driver.h"
#include "support/test_samples.h"
#include "support/wait_until.h"
#include "vendor/fake_kmpeg4.h"

namespace orbisan::test {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<uint8_t>;

Bytes Cat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

uint32_t U32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24; }
// The connection record's ports A, B and C.
std::vector<uint32_t> Ports(const Bytes& record) { return {U32(record, 424), U32(record, 428), U32(record, 432)}; }

class SdkChannelTest : public ::testing::Test {
 protected:
  SdkChannelTest()
      : server_({}, [this](const std::string& uri) {
          HttpReply reply;
          reply.body = uri.find("VIDEO_RESOLUTION&") != std::string::npos ? answer_ : "OK\r\n";
          return reply;
        }) {
    driver_.info.port = server_.Port();
    driver_.info.user = "admin";
    driver_.info.password = "secret";
    driver_.info.connectTimeoutMs = 2000;
    driver_.videoStandard = 1;
    driver_.allocator = &allocator_;
  }
  std::string answer_ = "VIDEO_RESOLUTION='N720x480'\r\nVIDEO_FPS_NUM='30'\r\nVIDEO_BITRATE='1M'\r\n";
  ScriptedHttpServer server_;
  TestDriver driver_;
  TestAllocator allocator_;
  TestSink sink_;
  FakeKMpeg4 fake_;
  STREAM_PARAMS params_{.frameRate = 33, .bitrate = 50, .width = 720, .height = 480, .codec = 2};
};

TEST_F(SdkChannelTest, KeyFramesCarryTheirHeaderSizeInterFramesWaitForOneAndTheRecordHoldsThePorts) {
  CSDKChannel channel(0, &driver_, &sink_, &fake_.lib);
  ASSERT_TRUE(channel.Start(&params_));
  ASSERT_TRUE(WaitUntil([&] { return fake_.CountOf("KStartStreaming") == 1; }));
  EXPECT_THAT(fake_.Calls(), ElementsAre("KOpenInterface", "KGetPortInfoByHTTP", "KGetTCPTypeByHTTP", "KSetTCPType 7",
                                         "KSetMediaConfig", "KSetRawDataCallback", "KConnect", "KStartStreaming"));
  const Bytes config = MakeConfig({704, 480});
  fake_.Feed(Cat(kPVop, Bytes(40, 0x55)));  // before any key frame: dropped
  fake_.Feed(Cat(config, kIVop), 2);        // not video
  fake_.Feed(Cat(config, kIVop));           // DIVX 704x480
  fake_.Feed(kPVop);                        // DIVI, same size
  fake_.Feed(MakeConfig({352, 240}));       // a header without a picture changes nothing
  fake_.Feed(Cat(kIVop, Bytes(20, 0x11)));  // key frame with the kept header
  ASSERT_TRUE(WaitUntil([&] { return sink_.FrameCount() == 3; }));
  const std::vector<DeliveredFrame> frames = sink_.Frames();
  EXPECT_EQ(frames[0].fourcc, ipcapture::kFourCC_DIVX);
  EXPECT_EQ(frames[0].bytes, std::string(config.begin(), config.end()) + std::string(kIVop.begin(), kIVop.end()));
  EXPECT_EQ(frames[0].streamName, "Strandline");
  EXPECT_EQ(frames[1].fourcc, ipcapture::kFourCC_DIVI);
  EXPECT_EQ(frames[1].bytes, std::string(kPVop.begin(), kPVop.end()));
  EXPECT_EQ(frames[2].fourcc, ipcapture::kFourCC_DIVX);
  for (const DeliveredFrame& f : frames)
    EXPECT_EQ(std::tuple(f.width, f.height, f.resolutionClass), std::tuple(704u, 480u, 4u));
  // A refused frame drops the rest until the next key frame.
  sink_.accept = false;
  fake_.Feed(kPVop);
  sink_.accept = true;
  fake_.Feed(kPVop);
  EXPECT_EQ(sink_.FrameCount(), 4u);
  channel.Stop();
  const std::vector<std::string> calls = fake_.Calls();
  EXPECT_THAT(std::vector<std::string>(calls.end() - 4, calls.end()),
              ElementsAre("KStop", "KStopStreaming", "KDisconnect", "KCloseInterface"));
  EXPECT_EQ(allocator_.created.load(), allocator_.released.load());

  // The connection record of that start.
  const Bytes record = fake_.Record();
  ASSERT_EQ(record.size(), 468u);
  EXPECT_EQ(U32(record, 0), 5u);
  EXPECT_EQ(record[4], 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(&record[8]), "127.0.0.1");
  EXPECT_STREQ(reinterpret_cast<const char*>(&record[296]), "admin");
  EXPECT_STREQ(reinterpret_cast<const char*>(&record[360]), "secret");
  EXPECT_THAT(Ports(record), ElementsAre(6000u, 6002u, 6001u));
  EXPECT_EQ(U32(record, 448), driver_.info.port);

  uint32_t ports[3];
  CSDKChannel::DefaultPorts(3, 4, ports);
  EXPECT_THAT(ports, ElementsAre(6000u, 6053u, 6013u));

  // The device's own answer: A at 12, C at 16, B at 20.
  fake_.portInfo.assign(32, 0);
  fake_.portInfo[12] = 11;
  fake_.portInfo[16] = 33;
  fake_.portInfo[20] = 22;
  ASSERT_TRUE(channel.Start(&params_));
  ASSERT_TRUE(WaitUntil([&] { return fake_.CountOf("KStartStreaming") == 2; }));
  EXPECT_THAT(Ports(fake_.Record()), ElementsAre(11u, 22u, 33u));
  channel.Stop();

  // Texts that do not fit are refused before the library sees them.
  driver_.info.password = "fifteen-chars-x";
  CSDKChannel longPassword(0, &driver_, &sink_, &fake_.lib);
  ASSERT_TRUE(longPassword.Start(&params_));
  ASSERT_TRUE(WaitUntil([&] { return !driver_.LinesWith("password is longer").empty(); }));
  longPassword.Stop();
  EXPECT_EQ(fake_.CountOf("KOpenInterface"), 2u);
}

TEST_F(SdkChannelTest, CameraIsReconfiguredOnlyWhenItsAnswerDiffers) {
  CSDKChannel channel(0, &driver_, &sink_, &fake_.lib);
  for (int standard : {1, 0}) {
    driver_.videoStandard = standard;
    ASSERT_TRUE(channel.Start(&params_));
    ASSERT_TRUE(WaitUntil([&] { return fake_.CountOf("KStartStreaming") == static_cast<size_t>(2 - standard); }));
    channel.Stop();
  }
  EXPECT_THAT(
      server_.AcceptedUris(),
      ElementsAre("/cgi-bin/mpeg4?USER=admin&PWD=secret&VIDEO_RESOLUTION&VIDEO_FPS_NUM&VIDEO_BITRATE",
                  "/cgi-bin/mpeg4?USER=admin&PWD=secret&VIDEO_RESOLUTION&VIDEO_FPS_NUM&VIDEO_BITRATE",
                  "/cgi-bin/mpeg4?USER=admin&PWD=secret&VIDEO_FPS=MODE1&VIDEO_FPS_NUM=30&VIDEO_RESOLUTION=P720x480&"
                  "VIDEO_BITRATE=1M",
                  "/cgi-bin/system?USER=admin&PWD=secret&SAVE_REBOOT"));
  EXPECT_EQ(SdkBitrateText(11), "256K");
  EXPECT_EQ(SdkBitrateText(12), "384K");
  EXPECT_EQ(SdkBitrateText(0xFFFFFFFF), "3M");
}

// The library hangs in KConnect: a stop does not wait for it, and the retries
// of a restart wait for that one call instead of opening a handle each.
TEST_F(SdkChannelTest, AStalledLibraryHoldsNeitherAStopNorMoreThanOneConnection) {
  fake_.connectRelease.Reset();
  CSDKChannel channel(0, &driver_, &sink_, &fake_.lib);
  ASSERT_TRUE(channel.Start(&params_));
  ASSERT_TRUE(fake_.connectEntered.Wait(10000));
  const auto start = std::chrono::steady_clock::now();
  channel.Stop();
  // The channel's own bound is twice the connect time-out; it must not be
  // reached, or the stop waited for the library.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * driver_.info.connectTimeoutMs));
  EXPECT_TRUE(driver_.LinesWith("cannot be stopped").empty());
  ASSERT_TRUE(channel.Start(&params_));
  ASSERT_TRUE(WaitUntil([&] { return sink_.signalLost >= 3; }));
  EXPECT_EQ(fake_.CountOf("KOpenInterface"), 1u);
  EXPECT_EQ(driver_.LinesWith("no new connection until it has").size(), 1u);
  channel.Stop();
  // Once the library returns, the abandoned connection is closed by itself,
  // no block reaches the stopped channel, and a new connection comes up.
  fake_.connectRelease.Set();
  ASSERT_TRUE(WaitUntil([&] { return fake_.CountOf("KCloseInterface") == 1; }));
  fake_.Feed(Cat(MakeConfig({704, 480}), kIVop));
  EXPECT_EQ(sink_.FrameCount(), 0u);
  ASSERT_TRUE(channel.Start(&params_));
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() == Streaming; }));
  EXPECT_EQ(fake_.CountOf("KOpenInterface"), 2u);
  channel.Stop();
}

TEST_F(SdkChannelTest, ASinkHeldInOnFrameDoesNotHoldAnotherChannelsConnect) {
  CManualEvent inFrame, release;
  sink_.afterFrame = [&] { inFrame.Set(), release.Wait(20000); };
  CSDKChannel first(0, &driver_, &sink_, &fake_.lib);
  ASSERT_TRUE(first.Start(&params_));
  ASSERT_TRUE(WaitUntil([&] { return fake_.CountOf("KStartStreaming") == 1; }));
  std::thread library([&] { fake_.Feed(Cat(MakeConfig({704, 480}), kIVop)); });
  ASSERT_TRUE(inFrame.Wait(10000));
  TestSink other;
  CSDKChannel second(1, &driver_, &other, &fake_.lib);
  ASSERT_TRUE(second.Start(&params_));
  EXPECT_TRUE(WaitUntil([&] { return fake_.CountOf("KStartStreaming") == 2; }));
  release.Set();
  library.join();
  second.Stop();
  first.Stop();
}

using namespace ipcapture;
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

// Without an enabled mu-law format the channel fails before any camera
// check; a camera that refuses audio is retried every 1500 ms until stopped.
TEST_F(AudioSenderTest, WithoutMuLawTheChannelFailsAndARefusingCameraIsRetriedEvery1500MsUntilStopped) {
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
  formats_.list = {{0x12345678, true}, {kFourCC_711M, true}};
  answer_ = "ERROR: V2_AUDIO_ENABLED\r\n";
  CIPAudioSender sender(&creator_, 1);
  ASSERT_TRUE(sender.OpenChannel(7, 1, &observer_, &formats_));
  ASSERT_TRUE(WaitUntil([&] { return Checks().size() >= 3; }));
  EXPECT_TRUE(sender.CloseChannel(7));
  const auto times = Checks();
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(1450));
  for (uint32_t state : observer_.States()) EXPECT_NE(state, static_cast<uint32_t>(kAudioRunning));
  EXPECT_EQ(observer_.States().back(), static_cast<uint32_t>(kAudioStopped));
  EXPECT_EQ(Checks().size(), times.size()) << "no check after the stop";
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

}  // namespace
}  // namespace orbisan::test
