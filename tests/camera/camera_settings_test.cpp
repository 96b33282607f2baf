// What the driver sets on the simulated camera: the stream set-up, privacy
// zones, and the clock (shared items, retries after a refusal, the provider's
// lifetime; the DATE_CONFIG text itself is checked end to end).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <future>
#include <limits>

#include "camera/privacy_zone_handler.h"
#include "camera/scripted_http_server.h"
#include "camera/sim_camera_test.h"
#include "camera/stream_configurator.h"
#include "camera/stream_values.h"
#include "camera/time_sync.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

using ::testing::ElementsAre;
using Codec = CStreamConfigurator::Codec;

// An H.264 camera already set up for 640x480 at 30 fps, bit rate 2M, frame
// ratio 100, on every stream. It answers SAVE_REBOOT without rebooting.
class StreamConfiguratorTest : public SimCameraTest {
 protected:
  void SetUp() override {
    Start("KCM5311");
    Set("VIDEO_STREAM", "SINGLE");
    for (int channel = 1; channel <= 3; ++channel) {
      Set("VIDEO_RESOLUTION", "N640x480", channel);
      Set("VIDEO_GOP", "0", channel);
      Set("VIDEO_FPS_NUM", "30", channel);
    }
    Answer("VIDEO_FPS_RATIO", "VIDEO_FPS_RATIO='100'\r\n");
  }
  void Start(const std::string& model) {
    SimCameraTest::Start(model);
    driver_.videoStandard = 1;
    driver_.parameters = {{5, "2"}, {10, "1"}, {11, "RTP_B2"}};
    Answer("SAVE_REBOOT", "OK: SAVE_REBOOT\r\n");
  }
  void Set(const std::string& name, const std::string& value, int channel = 1) {
    EXPECT_TRUE(camera_->SetSetting(name, value, channel)) << name;
  }
  bool Configure(Codec codec, const STREAM_PARAMS& params, uint32_t channelIndex = 0, CEvent* stop = nullptr,
                 uint32_t streamingMode = 0) {
    Web::CHttpSender http(driver_.info);
    CStreamConfigurator configurator(&driver_, http, channelIndex, params, stop);
    configurator.SetStreamingMode(streamingMode);
    return configurator.ConfigureStream(codec);
  }
};

// One stream set-up. `setup` holds host parameters "P5=2" (replacing the
// defaults when any is given), camera settings "NAME=VALUE" or
// "NAME=VALUE@CHANNEL", and "channels=N", "index=N" (the channel index),
// "multicast". `requests` is the whole list, or its start or end where "..."
// stands for the rest; `answers` the odd firmware's, "ITEM=>TEXT|...".
struct Sequence {
  std::string setup;
  CStreamConfigurator::Codec codec;
  STREAM_PARAMS request;
  bool configured;
  std::string requests, answers = "";
};

TEST_F(StreamConfiguratorTest, Sequences) {
  const std::string b2 = "P5=2 P10=1 P11=RTP_B2 ", tune = "VIDEO_GOP&VIDEO_FPS_NUM&VIDEO_FPS_RATIO&VIDEO_H264_QUALITY";
  const std::string dual = b2 + "P13=1 VIDEO_STREAM=DUAL ", noH264 = "VIDEO_H264_QUALITY=>ERROR: VIDEO_H264_QUALITY";
  const Sequence cases[] = {
      // Only the differing items are changed; items the camera lacks are never set.
      {b2 + "P4=1 VIDEO_ENCODER=MPEG4 VIDEO_MAX_BITRATE=1M RTSP_AUTHEN=0 NIGHT_FPS_NUM=5 NIGHT_GOP=0", kCodecH264,
       Request(640, 480, 67, 50), true,
       "system?RTP_B2&RTSP_AUTHEN system?RTP_B2=1&RTSP_AUTHEN=1 encoder?VIDEO_STREAM "
       "encoder?VIDEO_ENCODER&VIDEO_RESOLUTION encoder?VIDEO_ENCODER=H264 encoder?" +
           tune +
           "&VIDEO_MAX_BITRATE&NIGHT_GOP&NIGHT_FPS_NUM&NIGHT_FPS_RATIO&NIGHT_H264_QUALITY&NIGHT_MAX_BITRATE "
           "encoder?VIDEO_FPS_NUM=15&NIGHT_FPS_NUM=15&VIDEO_MAX_BITRATE=2M",
       "NIGHT_MAX_BITRATE=>ERROR: NIGHT_MAX_BITRATE|NIGHT_H264_QUALITY=>ERROR: NIGHT_H264_QUALITY"},
      // The B2 switch found by trial without the host's properties; firmware
      // that does not know the first name has the second set untried.
      {"P5=2", kCodecH264, Request(640, 480, 33, 50), true,
       "system?RTP_B2&RTSP_AUTHEN system?RTP_B2=2&RTSP_AUTHEN=2 system?RTP_B2=1&RTSP_AUTHEN=1 ..."},
      {"P5=2", kCodecH264, Request(640, 480, 33, 50), true,
       "system?RTP_B2&RTSP_AUTHEN system?B2_RTP_APPENDED=2&RTSP_AUTHEN=2 system?B2_RTP_APPENDED=1&RTSP_AUTHEN=1 ...",
       "RTP_B2=>ERROR: RTP_B2|B2_RTP_APPENDED=2=>OK: B2_RTP_APPENDED=2|B2_RTP_APPENDED=1=>OK: B2_RTP_APPENDED=1"},
      // Channel selectors of the stream kinds in DUAL mode.
      {b2 + "P13=1", kCodecH264, Request(640, 480, 33, 50, kStreamLive), true,
       "system?RTP_B2&RTSP_AUTHEN encoder?VIDEO_STREAM encoder?VIDEO_STREAM=DUAL "
       "encoder?CHANNEL=2&VIDEO_ENCODER&VIDEO_RESOLUTION encoder?CHANNEL=2&" +
           tune + "&VIDEO_MAX_BITRATE"},
      {dual + "VIDEO_FPS_NUM=25@3", kCodecH264, Request(640, 480, 33, 50, kStreamRemote), true,
       "system?RTP_B2&RTSP_AUTHEN encoder?VIDEO_STREAM encoder?CHANNEL=3&VIDEO_ENCODER&VIDEO_RESOLUTION "
       "encoder?CHANNEL=3&" +
           tune + "&VIDEO_MAX_BITRATE encoder?CHANNEL=3&VIDEO_FPS_NUM=30"},
      {dual, kCodecH264, Request(640, 480, 33, 50, kStreamRecording), true,
       "system?RTP_B2&RTSP_AUTHEN encoder?VIDEO_STREAM encoder?VIDEO_ENCODER&VIDEO_RESOLUTION encoder?" + tune +
           "&VIDEO_MAX_BITRATE"},
      // A four-channel video server: the channel number, whatever the stream
      // kind, on system commands too; the stream mode is the device's.
      {dual + "channels=4 index=2", kCodecH264, Request(640, 480, 33, 50, kStreamLive), true,
       "system?CHANNEL=3&RTP_B2&RTSP_AUTHEN encoder?VIDEO_STREAM encoder?CHANNEL=3&VIDEO_ENCODER&VIDEO_RESOLUTION ..."},
      // MPEG-4 on a sensor board snaps to the camera's table; device type 3
      // at 1280 wide falls through to the capability map.
      {b2 + "P12=2 VIDEO_ENCODER=MPEG4", kCodecMpeg4, Request(640, 480, 40, 100), true,
       "... encoder?VIDEO_FPS_NUM=24&VIDEO_MAX_BITRATE=UNLIMITED", noH264},
      {b2 + "P12=3 VIDEO_ENCODER=MPEG4 VIDEO_RESOLUTION=N1280x720", kCodecMpeg4, Request(1280, 720, 83, 100), true,
       "... encoder?VIDEO_FPS_NUM=20&VIDEO_MAX_BITRATE=UNLIMITED", noH264},
      // The frame ratio from the camera's base, sent only when the camera's differs.
      {b2 + "P3=1", kCodecH264, Request(640, 480, 83, 50), true,
       "... encoder?VIDEO_FPS_RATIO=100 encoder?VIDEO_FPS_RATIO=49", "VIDEO_FPS_RATIO=100=>VIDEO_FPS_RATIO='25,25'"},
      {b2 + "P3=1", kCodecH264, Request(640, 480, 83, 50), true, "... encoder?VIDEO_FPS_RATIO=100",
       "VIDEO_FPS_RATIO=100=>VIDEO_FPS_RATIO='25,25'|VIDEO_FPS_RATIO=>VIDEO_FPS_RATIO='49'"},
      // Sequences that send nothing.
      {"multicast", kCodecH264, Request(640, 480, 33, 50), true, ""},
      {"P5=0", kCodecMjpeg, Request(640, 480, 33, 50), false, ""},
      {"P5=3", kCodecMpeg4, Request(640, 480, 33, 50), false, ""},
      {"P5=1 P12=1 index=1", kCodecMjpeg, Request(640, 480, 33, 50), true, ""},
      {"P5=1 P12=1 index=3", kCodecMpeg4, Request(640, 480, 33, 50), true, ""},
  };
  for (const Sequence& c : cases) {
    SCOPED_TRACE(c.setup);
    SetUp();
    driver_.channelCount = 1;
    driver_.streamKindSettings = {{0, {{{1280, 720}, {5, 10, 20}}}}};
    uint32_t index = 0, mode = 0;
    bool parametersGiven = false;
    for (const std::string& token : Split(c.setup, " ")) {
      const size_t eq = token.find('='), at = token.find('@');
      const std::string name = token.substr(0, eq), value = token.substr(eq + 1, at - eq - 1);
      if (name[0] == 'P' && std::isdigit(name[1])) {
        if (!parametersGiven) driver_.parameters.clear();
        parametersGiven = true;
        driver_.parameters[std::stoi(name.substr(1))] = value;
      } else if (name == "channels" || name == "index") {
        (name == "index" ? index : driver_.channelCount) = std::stoul(value);
      } else if (name == "multicast") {
        mode = 2;
      } else {
        Set(name, value, at == std::string::npos ? 1 : std::stoi(token.substr(at + 1)));
      }
    }
    for (const std::string& answer : Split(c.answers, "|")) {
      Answer(answer.substr(0, answer.find("=>")), answer.substr(answer.find("=>") + 2) + "\r\n");
    }
    camera_->ClearCgiRequests();
    EXPECT_EQ(Configure(c.codec, c.request, index, nullptr, mode), c.configured);
    std::vector<std::string> requests = Requests(), expected = Split(c.requests, " ");
    if (!expected.empty() && expected.front() == "...") {
      expected.erase(expected.begin());
      requests.erase(requests.begin(), requests.end() - std::min(requests.size(), expected.size()));
    } else if (!expected.empty() && expected.back() == "...") {
      expected.pop_back();
      requests.resize(std::min(requests.size(), expected.size()));
    }
    EXPECT_EQ(requests, expected) << ::testing::PrintToString(Requests());
  }
}

TEST_F(StreamConfiguratorTest, StreamingTypeChangeRebootsASingleChannelCameraFrameRatioAndChannelNumber) {
  driver_.parameters = {{5, "1"}};
  Set("V2_STREAMING_TYPE", "1");
  EXPECT_FALSE(Configure(kCodecMjpeg, Request(640, 480, 33, 50)));
  EXPECT_THAT(Requests(), ElementsAre("system?V2_STREAMING_TYPE&V2_STREAMING_METHOD", "system?V2_STREAMING_TYPE=2",
                                      "system?SAVE_REBOOT"));
  const auto lines = driver_.LinesWith("Save and reboot device 127.0.0.1:" + std::to_string(camera_->HttpPort()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 3u);

  // A multicast stream wants method 4; a video server is not rebooted.
  driver_.channelCount = 2;
  camera_->ClearCgiRequests();
  EXPECT_FALSE(Configure(kCodecMjpeg, Request(640, 480, 33, 50), 0, nullptr, 1));
  EXPECT_THAT(Requests(), ElementsAre("system?CHANNEL=1&V2_STREAMING_TYPE&V2_STREAMING_METHOD",
                                      "system?CHANNEL=1&V2_STREAMING_METHOD=4"));
  // Group 2 cameras are never rebooted from here.
  driver_.parameters = {{5, "2"}};
  camera_->ClearCgiRequests();
  Web::CHttpSender http(driver_.info);
  CStreamConfigurator(&driver_, http, 0, Request(640, 480, 33, 50), nullptr).SaveAndReboot();
  EXPECT_TRUE(Requests().empty());

  // No usable pair: the share of the standard's base rate, never above 100. A
  // quad server numbers its channels by itself.
  driver_.parameters[3] = "1";
  Answer("VIDEO_FPS_RATIO=100", "VIDEO_FPS_RATIO='0,25'\r\n");
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 0, Request(640, 480, 83, 50), nullptr).FrameRatio(), 41u);
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 0, Request(640, 480, 33, 50), nullptr).FrameRatio(), 100u);
  Answer("VIDEO_FPS_RATIO=100", "ERROR\r\n");
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 0, Request(640, 480, 83, 50), nullptr).FrameRatio(), 100u);
  driver_.parameters[12] = "1";
  driver_.channelCount = 4;
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 2, Request(640, 480, 33, 50), nullptr).ChannelNumber(true), 0u);
}

TEST_F(StreamConfiguratorTest, CamSeriesWaitsAfterItsCommandUnlessStopped) {
  Start("CAM6510");  // MPEG-4 at 352x240
  driver_.parameters = {{5, "0"}};
  CManualEvent stop;
  auto done =
      std::async(std::launch::async, [&] { return Configure(kCodecMpeg4, Request(352, 240, 100, 50), 0, &stop); });
  // Still settling a second later ...
  EXPECT_EQ(done.wait_for(std::chrono::seconds(1)), std::future_status::timeout);
  stop.Set();
  // ... and back when the channel stops, not at the end of the 5 s wait.
  ASSERT_EQ(done.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_TRUE(done.get());
  EXPECT_EQ(Requests().back(), "mpeg4?VIDEO_RESOLUTION=N352x240&VIDEO_FPS=MODE1&VIDEO_FPS_NUM=10&VIDEO_BITRATE=1M");
}

TEST(StreamValues, StreamKindSettingsKeepOnlyWellFormedEntriesAndTheVendorBitRates) {
  const StreamKindSettings parsed =
      ParseStreamKindSettings("Recording=0x480:5;640x480:0,x;abc;640x480:5:6;320x240:15,7,15;.Remote=1x1:1;.");
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed.at(0), (FrameRateTable{{{320, 240}, {7, 15}}}));
  EXPECT_EQ(parsed.at(2), (FrameRateTable{{{1, 1}, {1}}}));
  EXPECT_TRUE(ParseStreamKindSettings("").empty());
  EXPECT_TRUE(ParseStreamKindSettings("Recording=.").empty());
  EXPECT_EQ(SdkBitrateText(80), "2.5M");  // the vendor library's steps; the rest are the SDK channel test's
}

struct HostZone : ipcapture::IPrivacyZone {
  HostZone(bool on, double l, double t, double w, double h) : enabled(on), left(l), top(t), width(w), height(h) {}
  uint32_t GetIndex() override { return 0; }
  uint32_t GetColor() override { return 0; }
  uint32_t IsEnabled() override { return enabled ? 1 : 0; }
  double GetLeft() override { return left; }
  double GetTop() override { return top; }
  double GetWidth() override { return width; }
  double GetHeight() override { return height; }
  bool enabled;
  double left, top, width, height;
};

struct HostZoneList : ipcapture::IPrivacyZoneList {
  explicit HostZoneList(std::vector<HostZone> z = {}) : zones(std::move(z)) {}
  ipcapture::IPrivacyZone* GetZone(uint32_t index) override { return index < zones.size() ? &zones[index] : nullptr; }
  std::vector<HostZone> zones;
};

class PrivacyZoneTest : public SimCameraTest {
 protected:
  void SetUp() override { Start("TCM5311"); }  // four privacy regions
};

// The zone records a channel writes, as they stand, on every stream start:
// in pixels of the requested frame, cut at its edges. Host parameter 16 is
// the device's zone count; a live or remote channel never takes the host's
// zones and leaves the device's masks alone.
TEST_F(PrivacyZoneTest, ZonesInPixelsOfTheRequestedFrameFewerHostZonesAndOnlyAFailedRequestStops) {
  struct Case {
    const char* count;
    uint32_t channel;
    std::vector<HostZone> zones;
    bool given;  // SetZones was called
    uint32_t width, height;
    std::string records;  // PRIVACY_REGION values
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<HostZone> three = {{true, 10, 20, 50, 25}, {false, 5, 5, 5, 5}, {true, 50, 50, 100, 100}};
  const Case cases[] = {
      {"3", 0, three, true, 640, 480, "1,1,000000,64,96,384,216 2,0,000000,1,1,20,20 3,1,000000,320,240,640,480"},
      {"3", 0, three, true, 352, 240, "1,1,000000,35,48,211,108 2,0,000000,1,1,20,20 3,1,000000,176,120,352,240"},
      {"", 0, {{true, 10, 20, 50, 25}}, true, 640, 480, ""},
      {"2", 1, {}, false, 640, 480, ""},
      {"2", 0, {}, true, 640, 480, "1,0,000000,1,1,20,20 2,0,000000,1,1,20,20"},
      {"1", 0, {{true, -20, nan, 500, 1e300}}, true, 640, 480, "1,1,000000,0,0,640,480"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records);
    camera_->ClearCgiRequests();
    driver_.parameters[16] = c.count;
    CPrivacyZoneHandler handler(&driver_, c.channel);
    HostZoneList list(c.zones);
    if (c.given) handler.SetZones(&list);
    handler.ApplyZones(Request(c.width, c.height));
    handler.ApplyZones(Request(c.width, c.height));
    std::string records;
    for (const std::string& request : Requests()) records += " " + request.substr(23);
    EXPECT_EQ(records, c.records.empty() ? "" : " " + c.records + " " + c.records);
    EXPECT_EQ(handler.FilledFromHost(), c.given && c.channel == 0);
  }
  EXPECT_TRUE(driver_.Lines().empty());

  camera_->ClearCgiRequests();
  driver_.parameters[16] = "3";
  CPrivacyZoneHandler fewer(&driver_, 0);
  HostZoneList all({{true, 10, 10, 10, 10}, {true, 20, 20, 10, 10}, {true, 30, 30, 10, 10}});
  fewer.SetZones(&all);
  HostZoneList one({{false, 0, 0, 0, 0}});
  fewer.SetZones(&one);
  ASSERT_EQ(fewer.Zones().size(), 3u);
  EXPECT_FALSE(fewer.Zones()[0].enabled);
  EXPECT_TRUE(fewer.Zones()[1].enabled);
  EXPECT_EQ(fewer.Zones()[2].left, 30);
  fewer.ApplyZones(Request(100, 100));
  EXPECT_THAT(Requests(), ElementsAre("encoder?PRIVACY_REGION=1,0,000000,1,1,20,20",
                                      "encoder?PRIVACY_REGION=2,1,000000,20,20,30,30",
                                      "encoder?PRIVACY_REGION=3,1,000000,30,30,40,40"));
  // More host zones than the device has are ignored.
  HostZoneList many(std::vector<HostZone>(6, HostZone(true, 1, 1, 1, 1)));
  fewer.SetZones(&many);
  EXPECT_EQ(fewer.Zones().size(), 3u);

  std::atomic<int> calls{0};
  ScriptedHttpServer server({}, [&](const std::string& uri) {
    ++calls;
    if (uri.find("PRIVACY_REGION=1,") != std::string::npos) return HttpReply{200, "ERROR: PRIVACY_REGION\r\n"};
    if (uri.find("PRIVACY_REGION=3,") != std::string::npos) return HttpReply{500, "broken"};
    return HttpReply{200, "OK\r\n"};
  });
  ASSERT_TRUE(server.Running());
  driver_.info.port = server.Port();
  driver_.parameters[16] = "4";
  CPrivacyZoneHandler failing(&driver_, 0);
  HostZoneList empty;
  failing.SetZones(&empty);
  failing.ApplyZones(Request(640, 480));
  EXPECT_EQ(calls, 3);  // zone 4 is not sent after the failed request
  const std::string device = "127.0.0.1:" + std::to_string(server.Port());
  const auto lines = driver_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Error setting privacy zone 1 info, device: " + device + " ");
  EXPECT_EQ(lines[1].text, "Can't set privacy zone 3 info, device: " + device + " ");
  for (const LogLine& line : lines) EXPECT_EQ(line.level, 1u);
}

using namespace std::chrono_literals;

class TimeSyncTest : public SimCameraTest {
 protected:
  void SetUp() override {
    Start();
    for (TestDriver* d : {&first_, &second_, &stranger_}) {
      d->info = driver_.info;
      d->info.connectTimeoutMs = 20000;
    }
  }
  size_t DateRequests() { return Requests("system?DATE_CONFIG=1,").size(); }
  bool Users(CTimeSyncService& service, uint32_t users) {
    return service.WithProvider([&](CTimeProvider* p) { return (p ? p->Users(first_.info) : 0) == users; });
  }

  TestDriver first_, second_, stranger_;
};

TEST_F(TimeSyncTest, OneItemPerDeviceSyncedOncePerPeriodTheLastUnregistrationEndsASyncARefusalIsRetried) {
  auto key = [](const char* address, uint16_t port) {
    DEVICE_INFO device;
    device.address = address;
    device.port = port;
    return CTimeProvider::DeviceKey(device);
  };
  EXPECT_EQ(key("localhost", 80), key("127.0.0.1", 80));
  EXPECT_NE(key("127.0.0.1", 81), key("127.0.0.1", 80));
  // Names without an IPv4 address keep apart instead of all meeting at 0.
  EXPECT_NE(key("fe80::1", 80), key("fe80::2", 80));

  CTimeSyncService service(60000, 10);
  service.Register(&first_);
  service.Register(&second_);
  service.Register(&second_);  // a second open of the same driver counts once
  EXPECT_TRUE(Users(service, 2));
  ASSERT_TRUE(WaitUntil([&] { return DateRequests() == 1; }));
  std::this_thread::sleep_for(100ms);  // ten passes, all inside the period
  EXPECT_EQ(DateRequests(), 1u);
  // Drivers that are not registered (any more) take nobody's place away.
  service.Unregister(&stranger_);
  service.Unregister(&first_);
  service.Unregister(&first_);
  EXPECT_TRUE(Users(service, 1));
  service.Unregister(&second_);
  EXPECT_TRUE(service.WithProvider([](CTimeProvider* p) { return p == nullptr; }));

  camera_->ClearCgiRequests();
  camera_->SetHttpFault(strandline::sim::HttpFault::kNoAnswer);
  CTimeSyncService later(60000, 10);
  later.Register(&first_);
  ASSERT_TRUE(WaitUntil([&] { return DateRequests() == 1; }));  // it is never answered
  const auto start = std::chrono::steady_clock::now();
  later.Unregister(&first_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);
  EXPECT_TRUE(first_.LinesWith("will be terminated").empty());
  camera_->SetHttpFault(strandline::sim::HttpFault::kNone);
  later.Register(&first_);
  EXPECT_TRUE(WaitUntil([&] { return DateRequests() == 2; }));  // a new item, never synced
  later.Unregister(&first_);

  camera_->ClearCgiRequests();
  camera_->SetClockRefusing(true);
  CTimeProvider provider(60000, 10);
  provider.AddDevice(&first_);
  ASSERT_TRUE(provider.StartThread("sync"));
  ASSERT_TRUE(WaitUntil([&] { return DateRequests() >= 3; }));
  EXPECT_EQ(provider.LastSync(first_.info), 0u);
  camera_->SetClockRefusing(false);
  EXPECT_TRUE(WaitUntil([&] { return provider.LastSync(first_.info) != 0; }));
}

}  // namespace
}  // namespace orbisan::test
