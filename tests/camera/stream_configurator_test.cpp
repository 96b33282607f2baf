#include "camera/stream_configurator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "camera/sim_camera_test.h"
#include "camera/stream_values.h"

namespace orbisan::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
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
  void Answer(const std::string& item, const std::string& text) { camera_->SetCgiAnswer(item, text); }
  bool Configure(Codec codec, const STREAM_PARAMS& params, uint32_t channelIndex = 0, CEvent* stop = nullptr) {
    Web::CHttpSender http(driver_.info);
    CStreamConfigurator configurator(&driver_, http, channelIndex, params, stop);
    return configurator.ConfigureStream(codec);
  }
};

TEST_F(StreamConfiguratorTest, OnlyTheDifferingItemsAreChanged) {
  Set("VIDEO_ENCODER", "MPEG4");
  Set("VIDEO_MAX_BITRATE", "1M");
  Set("RTSP_AUTHEN", "0");
  driver_.parameters[4] = "1";  // day/night camera
  Set("NIGHT_FPS_NUM", "5");
  Set("NIGHT_GOP", "0");
  // 15 fps, night items asked for; the camera lacks some and they are never set.
  Answer("NIGHT_MAX_BITRATE", "ERROR: NIGHT_MAX_BITRATE\r\n");
  Answer("NIGHT_H264_QUALITY", "ERROR: NIGHT_H264_QUALITY\r\n");
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 67, 50)));
  EXPECT_THAT(Requests(),
              ElementsAre("system?RTP_B2&RTSP_AUTHEN", "system?RTP_B2=1&RTSP_AUTHEN=1", "encoder?VIDEO_STREAM",
                          "encoder?VIDEO_ENCODER&VIDEO_RESOLUTION", "encoder?VIDEO_ENCODER=H264",
                          "encoder?VIDEO_GOP&VIDEO_FPS_NUM&VIDEO_FPS_RATIO&VIDEO_H264_QUALITY&VIDEO_MAX_BITRATE"
                          "&NIGHT_GOP&NIGHT_FPS_NUM&NIGHT_FPS_RATIO&NIGHT_H264_QUALITY&NIGHT_MAX_BITRATE",
                          "encoder?VIDEO_FPS_NUM=15&NIGHT_FPS_NUM=15&VIDEO_MAX_BITRATE=2M"));
  EXPECT_EQ(camera_->GetSetting("VIDEO_FPS_NUM"), "15");
}

TEST_F(StreamConfiguratorTest, B2SwitchFoundByTrialWithoutTheHostsProperties) {
  driver_.parameters = {{5, "2"}};
  auto firstThree = [this] {
    const auto requests = Requests();
    return std::vector<std::string>(requests.begin(), requests.begin() + std::min<size_t>(3, requests.size()));
  };
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 33, 50)));
  EXPECT_THAT(firstThree(), ElementsAre("system?RTP_B2&RTSP_AUTHEN", "system?RTP_B2=2&RTSP_AUTHEN=2",
                                        "system?RTP_B2=1&RTSP_AUTHEN=1"));
  // Firmware that does not know the first name: the second is set untried.
  camera_->ClearCgiRequests();
  Answer("RTP_B2", "ERROR: RTP_B2\r\n");
  Answer("B2_RTP_APPENDED=2", "OK: B2_RTP_APPENDED=2\r\n");
  Answer("B2_RTP_APPENDED=1", "OK: B2_RTP_APPENDED=1\r\n");
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 33, 50)));
  EXPECT_THAT(firstThree(), ElementsAre("system?RTP_B2&RTSP_AUTHEN", "system?B2_RTP_APPENDED=2&RTSP_AUTHEN=2",
                                        "system?B2_RTP_APPENDED=1&RTSP_AUTHEN=1"));
}

TEST_F(StreamConfiguratorTest, ChannelSelectors) {
  driver_.parameters[13] = "1";  // DUAL
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 33, 50, kStreamLive)));
  EXPECT_THAT(
      Requests(),
      ElementsAre("system?RTP_B2&RTSP_AUTHEN", "encoder?VIDEO_STREAM", "encoder?VIDEO_STREAM=DUAL",
                  "encoder?CHANNEL=2&VIDEO_ENCODER&VIDEO_RESOLUTION",
                  "encoder?CHANNEL=2&VIDEO_GOP&VIDEO_FPS_NUM&VIDEO_FPS_RATIO&VIDEO_H264_QUALITY&VIDEO_MAX_BITRATE"));
  camera_->ClearCgiRequests();
  Set("VIDEO_FPS_NUM", "25", 3);
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 33, 50, kStreamRemote)));
  EXPECT_THAT(
      Requests(),
      ElementsAre("system?RTP_B2&RTSP_AUTHEN", "encoder?VIDEO_STREAM",
                  "encoder?CHANNEL=3&VIDEO_ENCODER&VIDEO_RESOLUTION",
                  "encoder?CHANNEL=3&VIDEO_GOP&VIDEO_FPS_NUM&VIDEO_FPS_RATIO&VIDEO_H264_QUALITY&VIDEO_MAX_BITRATE",
                  "encoder?CHANNEL=3&VIDEO_FPS_NUM=30"));
  camera_->ClearCgiRequests();
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 33, 50, kStreamRecording)));
  for (const std::string& request : Requests()) EXPECT_EQ(request.find("CHANNEL"), std::string::npos);

  // A four-channel video server: the channel number, whatever the stream kind,
  // on system commands too.
  driver_.channelCount = 4;
  camera_->ClearCgiRequests();
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 33, 50, kStreamLive), 2));
  const auto requests = Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests[0], "system?CHANNEL=3&RTP_B2&RTSP_AUTHEN");
  EXPECT_EQ(requests[1], "encoder?VIDEO_STREAM");  // the stream mode is the device's
  EXPECT_EQ(requests[2], "encoder?CHANNEL=3&VIDEO_ENCODER&VIDEO_RESOLUTION");
  // A quad server numbers its channels by itself.
  driver_.parameters[12] = "1";
  Web::CHttpSender http(driver_.info);
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 2, Request(640, 480, 33, 50), nullptr).ChannelNumber(true), 0u);
}

TEST_F(StreamConfiguratorTest, FrameRateAndBitrateValues) {
  EXPECT_EQ(FrameRateFromInterval(0), 1u);
  EXPECT_EQ(FrameRateFromInterval(40), 25u);
  EXPECT_EQ(FrameRateFromInterval(2000), 1u);
  EXPECT_EQ(FrameRateFromInterval(10000), 1u);
  EXPECT_EQ(FrameRateFromInterval(0x7000 | 50), 50u);
  struct Snap {
    uint32_t rate, deviceType, width;
    const char* model;
    uint32_t snapped;
  };
  for (const Snap& c : {Snap{25, 2, 640, "", 24}, Snap{7, 0, 640, "", 6}, Snap{30, 1, 640, "", 24},
                        Snap{9, 3, 1920, "", 6}, Snap{4, 3, 2032, "", 3}, Snap{12, 3, 1280, "KCM3311", 10}}) {
    uint32_t snapped = 0;
    ASSERT_TRUE(SnapFrameRate(c.rate, c.deviceType, c.width, c.model, snapped)) << c.rate;
    EXPECT_EQ(snapped, c.snapped) << c.rate;
  }
  uint32_t snapped = 0;
  EXPECT_FALSE(SnapFrameRate(12, 3, 1280, "ACM3311", snapped));

  const StreamKindSettings map = {{0, {{{1280, 720}, {5, 10, 20}}}}};
  EXPECT_EQ(CapabilityFrameRate(map, 0, 1280, 720, 12), 20u);
  EXPECT_EQ(CapabilityFrameRate(map, 0, 1280, 720, 25), 20u);
  EXPECT_EQ(CapabilityFrameRate(map, 0, 1280, 720, 5), 5u);
  EXPECT_EQ(CapabilityFrameRate(map, 1, 1280, 720, 12), 12u);
  EXPECT_EQ(CapabilityFrameRate(map, 0, 640, 480, 12), 12u);

  EXPECT_EQ(BitrateText(1, 100), "UNLIMITED");
  EXPECT_EQ(BitrateText(1, 0), "28K");
  EXPECT_EQ(BitrateText(0, 50), "1M");
  EXPECT_EQ(BitrateText(2, 94), "6M");
  EXPECT_EQ(BitrateText(2, 95), "UNLIMITED");
  EXPECT_EQ(BitrateText(2, 1000), "UNLIMITED");
  EXPECT_EQ(BitrateText(3, 10), "1M");
}

TEST_F(StreamConfiguratorTest, Mpeg4OnSensorBoardSnapsToTheCameraTable) {
  driver_.parameters[12] = "2";
  Set("VIDEO_ENCODER", "MPEG4");
  Answer("VIDEO_H264_QUALITY", "ERROR: VIDEO_H264_QUALITY\r\n");
  EXPECT_TRUE(Configure(kCodecMpeg4, Request(640, 480, 40, 100)));
  EXPECT_EQ(Requests().back(), "encoder?VIDEO_FPS_NUM=24&VIDEO_MAX_BITRATE=UNLIMITED");
  // Device type 3 at 1280 wide falls through to the capability map.
  driver_.parameters[12] = "3";
  driver_.streamKindSettings = {{0, {{{1280, 720}, {5, 10, 20}}}}};
  Set("VIDEO_RESOLUTION", "N1280x720");
  camera_->ClearCgiRequests();
  EXPECT_TRUE(Configure(kCodecMpeg4, Request(1280, 720, 83, 100)));
  EXPECT_EQ(Requests().back(), "encoder?VIDEO_FPS_NUM=20");
}

TEST_F(StreamConfiguratorTest, FrameRatioFromTheCameraBase) {
  driver_.parameters[3] = "1";
  Answer("VIDEO_FPS_RATIO=100", "VIDEO_FPS_RATIO='25,25'\r\n");
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 83, 50)));
  EXPECT_THAT(Requests(), ::testing::Contains("encoder?VIDEO_FPS_RATIO=100"));
  EXPECT_EQ(Requests().back(), "encoder?VIDEO_FPS_RATIO=49");
  // Sent only when the camera's ratio differs.
  Answer("VIDEO_FPS_RATIO", "VIDEO_FPS_RATIO='49'\r\n");
  camera_->ClearCgiRequests();
  EXPECT_TRUE(Configure(kCodecH264, Request(640, 480, 83, 50)));
  EXPECT_EQ(Requests().back(), "encoder?VIDEO_FPS_RATIO=100");
  // No usable pair: the share of the standard's base rate, never above 100.
  Web::CHttpSender http(driver_.info);
  Answer("VIDEO_FPS_RATIO=100", "VIDEO_FPS_RATIO='0,25'\r\n");
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 0, Request(640, 480, 83, 50), nullptr).FrameRatio(), 41u);
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 0, Request(640, 480, 33, 50), nullptr).FrameRatio(), 100u);
  Answer("VIDEO_FPS_RATIO=100", "ERROR\r\n");
  EXPECT_EQ(CStreamConfigurator(&driver_, http, 0, Request(640, 480, 83, 50), nullptr).FrameRatio(), 100u);
}

TEST_F(StreamConfiguratorTest, StreamingTypeChangeRebootsASingleChannelCamera) {
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
  Web::CHttpSender http(driver_.info);
  CStreamConfigurator configurator(&driver_, http, 0, Request(640, 480, 33, 50), nullptr);
  configurator.SetStreamingMode(1);
  EXPECT_FALSE(configurator.ConfigureStream(kCodecMjpeg));
  EXPECT_THAT(Requests(), ElementsAre("system?CHANNEL=1&V2_STREAMING_TYPE&V2_STREAMING_METHOD",
                                      "system?CHANNEL=1&V2_STREAMING_METHOD=4"));
  // Group 2 cameras are never rebooted from here.
  driver_.parameters = {{5, "2"}};
  camera_->ClearCgiRequests();
  configurator.SaveAndReboot();
  EXPECT_THAT(Requests(), IsEmpty());
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

TEST_F(StreamConfiguratorTest, SequencesThatSendNothing) {
  Web::CHttpSender http(driver_.info);
  CStreamConfigurator multicast(&driver_, http, 0, Request(640, 480, 33, 50), nullptr);
  multicast.SetStreamingMode(2);
  EXPECT_TRUE(multicast.ConfigureStream(kCodecH264));
  driver_.parameters = {{5, "0"}};
  EXPECT_FALSE(Configure(kCodecMjpeg, Request(640, 480, 33, 50)));
  driver_.parameters = {{5, "3"}};
  EXPECT_FALSE(Configure(kCodecMpeg4, Request(640, 480, 33, 50)));
  driver_.parameters = {{5, "1"}, {12, "1"}};
  EXPECT_TRUE(Configure(kCodecMjpeg, Request(640, 480, 33, 50), 1));
  EXPECT_TRUE(Configure(kCodecMpeg4, Request(640, 480, 33, 50), 3));
  EXPECT_THAT(Requests(), IsEmpty());
}

TEST_F(StreamConfiguratorTest, VendorLibraryChannel) {
  driver_.videoStandard = 0;
  Answer("VIDEO_RESOLUTION", "VIDEO_RESOLUTION='P352x288'\r\n");
  Answer("VIDEO_FPS_NUM", "VIDEO_FPS_NUM='25'\r\n");
  Web::CHttpSender http(driver_.info);
  EXPECT_TRUE(CStreamConfigurator(&driver_, http, 0, Request(352, 288, 40, 50), nullptr).ConfigureSdkStream());
  EXPECT_THAT(Requests(), ElementsAre("mpeg4?VIDEO_RESOLUTION&VIDEO_FPS_NUM&VIDEO_BITRATE"));
  camera_->ClearCgiRequests();
  EXPECT_TRUE(CStreamConfigurator(&driver_, http, 0, Request(352, 288, 40, 80), nullptr).ConfigureSdkStream());
  EXPECT_THAT(Requests(),
              ElementsAre("mpeg4?VIDEO_RESOLUTION&VIDEO_FPS_NUM&VIDEO_BITRATE",
                          "mpeg4?VIDEO_FPS=MODE1&VIDEO_FPS_NUM=25&VIDEO_RESOLUTION=P352x288&VIDEO_BITRATE=2.5M",
                          "system?SAVE_REBOOT"));
}

TEST(StreamKindSettingsParser, KeepsOnlyWellFormedEntries) {
  const StreamKindSettings parsed =
      ParseStreamKindSettings("Recording=0x480:5;640x480:0,x;abc;640x480:5:6;320x240:15,7,15;.Remote=1x1:1;.");
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed.at(0), (FrameRateTable{{{320, 240}, {7, 15}}}));
  EXPECT_EQ(parsed.at(2), (FrameRateTable{{{1, 1}, {1}}}));
  EXPECT_TRUE(ParseStreamKindSettings("").empty());
  EXPECT_TRUE(ParseStreamKindSettings("Recording=.").empty());
}

}  // namespace
}  // namespace orbisan::test
