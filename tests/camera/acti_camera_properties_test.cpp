#include "camera/acti_camera_properties.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "camera/sim_camera_test.h"
#include "support/capability_store_recorder.h"

namespace orbisan::test {
namespace {
// The host core version that this test program, standing in for the host
// process, reports to the driver through the dynamic loader.
std::array<uint16_t, 4> hostVersion;
bool hostVersionKnown = false;
}  // namespace
}  // namespace orbisan::test

extern "C" __attribute__((visibility("default"))) int basalt_product_version(uint16_t out[4]) {
  if (!orbisan::test::hostVersionKnown) return 0;
  for (int i = 0; i < 4; ++i) out[i] = orbisan::test::hostVersion[i];
  return 1;
}

namespace orbisan::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::string Info(const std::string& productId, const std::string& more = "") {
  std::string text = "Firmware Version = A1D-500-V4.12\r\nMAC Address = 00:0F:7C:01:02:03\r\n";
  if (!productId.empty()) text += "Production ID = " + productId + "\r\n";
  return text + more;
}

// The camera answers SYSTEM_INFO and CONFIG_GET as the case says; every
// other item as the simulated model does, unless a case says otherwise.
class CameraPropertiesTest : public SimCameraTest {
 protected:
  void SetUp() override { Start("TCM5311"); }
  void TearDown() override { hostVersionKnown = false; }
  void Answer(const std::string& item, const std::string& text) { camera_->SetCgiAnswer(item, text); }
  // This model has no PAL sizes: it takes the PAL codes as odd firmware would.
  void TakePalCodes(bool take) {
    for (const char* code : {"P176x144", "P352x288", "P640x480", "P720x576"}) {
      const std::string item = std::string("VIDEO_RESOLUTION=") + code;
      camera_->SetCgiAnswer(item, take ? std::optional<std::string>("OK: " + item + "\r\n") : std::nullopt);
    }
  }
  void Answers(const std::string& info, const std::string& config = "VIDEO_RESOLUTION='N640x480'\r\n") {
    Answer("SYSTEM_INFO", info);
    Answer("CONFIG_GET", config);
  }

  std::unique_ptr<CActiCameraProperties> Identify(uint32_t flag = 1, bool expectSuccess = true) {
    auto properties = std::make_unique<CActiCameraProperties>(driver_.info, flag);
    uint32_t status = 0;
    EXPECT_EQ(properties->Query(status), expectSuccess);
    if (!expectSuccess) {
      EXPECT_EQ(status, 3u);
    }
    return properties;
  }
};

std::vector<FrameSize> Sizes(const StreamCapabilities& stream) {
  std::vector<FrameSize> sizes;
  for (const StreamResolution& r : stream.resolutions) sizes.push_back({r.width, r.height});
  return sizes;
}

TEST_F(CameraPropertiesTest, ModelFamilies) {
  struct Case {
    std::string id;
    std::string brand;
    uint32_t group;
    uint32_t inputs, outputs;
    bool ptz;
    std::set<uint32_t> codecs;
    bool d1;
  };
  const Case cases[] = {
      {"AMU1100", "VIDO", 1, 0, 0, true, {}, true},
      {"TMU2000", "Messoa", 1, 0, 0, true, {}, true},
      {"CAM6200", "ACTi", 0, 2, 1, true, {kCodecMpeg4}, true},
      {"CAM5150", "ACTi", 0, 1, 1, false, {kCodecMpeg4}, true},
      {"ACM8201", "ACTi", 1, 1, 1, true, {}, true},
      {"ACM7411", "ACTi", 1, 1, 1, false, {}, true},
      {"ACM1011", "ACTi", 1, 0, 0, false, {}, false},
      {"ACD2100", "ACTi", 1, 2, 2, true, {kCodecMpeg4, kCodecMjpeg}, true},
      {"TCM4101", "ACTi", 1, 0, 0, false, {}, false},
      {"SED2120", "ACTi", 3, 2, 2, true, {kCodecMpeg4}, true},
      {"KCM5311", "ACTi", 1, 0, 0, false, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    Answers(Info(c.id));
    auto properties = Identify();
    EXPECT_EQ(properties->Brand(), c.brand);
    EXPECT_EQ(properties->Model(), c.id);
    EXPECT_EQ(properties->CameraGroup(), c.group);
    EXPECT_EQ(properties->DigitalInputs(), c.inputs);
    EXPECT_EQ(properties->DigitalOutputs(), c.outputs);
    EXPECT_EQ(properties->PtzSupported(), c.ptz);
    EXPECT_EQ(properties->Stream(0).codecs, c.codecs);
    EXPECT_EQ(properties->D1Allowed(), c.d1);
    EXPECT_EQ(properties->Firmware(), "A1D-500-V4.12");
    EXPECT_EQ(properties->Mac(), "00:0F:7C:01:02:03");
  }
}

TEST_F(CameraPropertiesTest, Cam6510OnPalUsesTheStaticTableAndDropsOneFps) {
  Answers(Info("CAM6510"), "VIDEO_RESOLUTION='P720x576'\r\n");
  auto properties = Identify(1);
  EXPECT_EQ(properties->Ntsc(), 0u);
  EXPECT_EQ(properties->CameraGroup(), 0u);
  EXPECT_EQ(properties->Stream(0).frameRates, (std::set<uint32_t>{2, 3, 4, 5, 6, 8, 12, 25}));
  EXPECT_THAT(Sizes(properties->Stream(0)), ElementsAre(FrameSize{176, 144}, FrameSize{352, 288}, FrameSize{720, 576}));
  // Static sizes: the camera's resolution is never touched.
  EXPECT_THAT(Requests("mpeg4?VIDEO_RESOLUTION="), IsEmpty());
  EXPECT_EQ(properties->StreamCapabilityText(),
            "Recording=176x144:2,3,4,5,6,8,12,25;352x288:2,3,4,5,6,8,12,25;720x576:2,3,4,5,6,8,12,25;.");
}

TEST_F(CameraPropertiesTest, SystemInfoKeys) {
  Answers(Info("ACD2200",
               "DI = 4\r\nDO = 0\r\nUnit Type = Quad Server\r\nChannels = 4\r\nAudio = 2\r\n"
               "ENCODER_CAP = MPEG4,MJPEG\r\nSensor Board = unknown\r\n"),
          "VIDEO_RESOLUTION='N352x240'\r\n");
  auto properties = Identify();
  EXPECT_EQ(properties->DeviceType(), 1u);
  EXPECT_EQ(properties->Channels(), 4u);
  // DI replaces the model's count, DO = 0 leaves it; a quad server keeps its own counts.
  EXPECT_EQ(properties->DigitalInputs(), 4u);
  EXPECT_EQ(properties->DigitalOutputs(), 0u);
  EXPECT_EQ(properties->AudioIn().count, 1u);
  EXPECT_EQ(properties->AudioOut().count, 1u);
  EXPECT_FALSE(properties->MotionSupported());
  // A quad server's default rate is 15 (NTSC) before probing picks the highest known rate.
  EXPECT_EQ(properties->Stream(0).resolutions.front().maxFrameRate, 30u);

  Answer("SYSTEM_INFO",
         Info("XYZ-1", "Audio = 1\r\nENCODER_CAP = H264,MJPEG\r\nSensor Board = IT1\r\nChannels = 4\r\n"));
  properties = Identify();
  EXPECT_EQ(properties->CameraGroup(), 2u);
  EXPECT_EQ(properties->Stream(0).codecs, (std::set<uint32_t>{kCodecH264, kCodecMjpeg}));
  EXPECT_EQ(properties->DeviceType(), 2u);
  EXPECT_EQ(properties->Channels(), 1u);  // "Channels" counts only on a quad server
  EXPECT_EQ(properties->AudioIn().count, 1u);
  EXPECT_EQ(properties->AudioOut().count, 0u);

  Answer("SYSTEM_INFO", Info("XYZ-2", "Sensor Board = MT9P031\r\n"));
  EXPECT_EQ(Identify()->DeviceType(), 3u);
}

TEST_F(CameraPropertiesTest, MissingProductionIdFailsWithStatus3) {
  Answers(Info("", "DI = 1\r\nENCODER_CAP = H264\r\nMD_CAP = MD\r\n"));
  Identify(1, false);
  EXPECT_THAT(Requests(), ElementsAre("system?SYSTEM_INFO"));
  Answer("SYSTEM_INFO", "");
  Identify(1, false);
}

TEST_F(CameraPropertiesTest, ConfigurationDump) {
  TakePalCodes(true);
  // The later key decides the standard; privacy regions count while consecutive.
  Answers(Info("XYZ-3", "ENCODER_CAP = H264\r\n"),
          "VIDEO_RESOLUTION='P640x480'\r\nMEDIA_TV='NTSC'\r\nMEDIA_DAYNIGHT_MODE='AUTO'\r\n"
          "PRIVACY_REGION1='1,0'\r\nPRIVACY_REGION2='1,0'\r\nPRIVACY_REGION4='1,0'\r\n"
          "PORT_RTSP='7070'\r\nV2_PORT_RTSP='7070'\r\n01_V2_PORT_RTSP='7071'\r\n02_V2_PORT_RTSP='7072'\r\n"
          "04_V2_PORT_RTSP='7074'\r\nMEDIA1_FPS_RATIO='100'\r\n");
  auto properties = Identify(0);
  EXPECT_EQ(properties->Ntsc(), 1u);
  EXPECT_TRUE(properties->DayNight());
  EXPECT_EQ(properties->PrivacyMaskCount(), 2u);
  EXPECT_TRUE(properties->PrivacySupported());
  EXPECT_EQ(properties->RtspPorts(), "7070,7071,7072,");
  EXPECT_EQ(properties->Channels(), 2u);
  EXPECT_TRUE(properties->FpsInPercents());
  // Percent frame rates on NTSC: 1 to 30.
  EXPECT_EQ(properties->Stream(0).frameRates.size(), 30u);

  Answer("CONFIG_GET", "VIDEO_TV='PAL'\r\nMEDIA1_FPS_RATIO='100'\r\nMEDIA1_FPS_NUM='25'\r\n");
  properties = Identify(1);
  EXPECT_EQ(properties->Ntsc(), 0u);
  EXPECT_FALSE(properties->FpsInPercents());
  EXPECT_EQ(properties->PrivacyMaskCount(), 0u);

  // A video server without PTZ has one mask.
  Answers(Info("XYZ-4"), "RESOLUTION_1='P720x576'\r\nMEDIA1_H264_QUALITY='HIGH'\r\nVIDEO_MJPEG_QUALITY='50'\r\n");
  properties = Identify(1);
  EXPECT_EQ(properties->Ntsc(), 0u);
  EXPECT_EQ(properties->CameraGroup(), 2u);
  EXPECT_EQ(properties->Stream(0).codecs, (std::set<uint32_t>{kCodecH264, kCodecMjpeg}));
  Answer("CONFIG_GET", "VIDEO_RESOLUTION='N640x480'\r\n");
  properties = Identify(1);
  EXPECT_EQ(properties->PrivacyMaskCount(), 1u);
}

TEST_F(CameraPropertiesTest, ProbingListsTheAcceptedCodes) {
  TakePalCodes(true);
  Answers(Info("XYZ-5"), "VIDEO_RESOLUTION='P352x288'\r\n");
  auto properties = Identify(1);
  EXPECT_THAT(Requests("mpeg4?"), ElementsAre("mpeg4?VIDEO_RESOLUTION=P176x144", "mpeg4?VIDEO_RESOLUTION=P352x288",
                                              "mpeg4?VIDEO_RESOLUTION=P640x480", "mpeg4?VIDEO_RESOLUTION=P720x576"));
  EXPECT_THAT(Sizes(properties->Stream(0)),
              ElementsAre(FrameSize{176, 144}, FrameSize{352, 288}, FrameSize{640, 480}, FrameSize{720, 576}));
  for (const StreamResolution& r : properties->Stream(0).resolutions) EXPECT_EQ(r.maxFrameRate, 25u);

  // NTSC: the model's own sizes that have a code; megapixel sizes get 8 fps, and 8 joins the set.
  Answer("CONFIG_GET", "VIDEO_RESOLUTION='N640x480'\r\n");
  properties = Identify(1);
  EXPECT_THAT(Sizes(properties->Stream(0)),
              ElementsAre(FrameSize{640, 480}, FrameSize{1280, 720}, FrameSize{1280, 1024}));
  EXPECT_EQ(properties->Stream(0).resolutions[0].maxFrameRate, 30u);
  EXPECT_EQ(properties->Stream(0).resolutions[1].maxFrameRate, 8u);
  EXPECT_TRUE(properties->Stream(0).frameRates.count(8));

  // Nothing accepted: identification fails.
  TakePalCodes(false);
  Answer("CONFIG_GET", "VIDEO_RESOLUTION='P352x288'\r\n");
  Identify(1, false);
}

TEST_F(CameraPropertiesTest, SingleStreamFrameRateCapabilities) {
  Answers(Info("XYZ-6", "MD_CAP = MD\r\nENCODER_CAP = H264\r\nVIDEO_RESOLUTION_CAP = N640x480,N1280x720,bogus\r\n"));
  Answer("FPS_CAP_QUERY_ALL=SINGLE,H264,N640x480", "FPS_CAP_QUERY_ALL='30,15,0,x,5-30,15'\r\n");
  Answer("FPS_CAP_QUERY_ALL=SINGLE,H264,N1280x720", "FPS_CAP_QUERY_ALL='10,5'\r\n");
  auto properties = Identify(1);
  EXPECT_TRUE(properties->MotionSupported());
  EXPECT_EQ(properties->ChannelMode(), 0u);
  EXPECT_EQ(properties->StreamCount(), 1u);
  // Mode already right: no change was sent.
  EXPECT_THAT(Requests("encoder?VIDEO_STREAM"), ElementsAre("encoder?VIDEO_STREAM"));
  const std::string text = properties->StreamCapabilityText();
  EXPECT_EQ(text, "Recording=640x480:5,15,30;1280x720:5,10;.");
  EXPECT_THAT(Sizes(properties->Stream(0)), ElementsAre(FrameSize{640, 480}, FrameSize{1280, 720}));
  EXPECT_EQ(properties->Stream(0).resolutions[0].maxFrameRate, 30u);
  // Read back exactly as written.
  const StreamKindSettings parsed = ParseStreamKindSettings(text);
  EXPECT_EQ(parsed, (StreamKindSettings(properties->DetailedCaps().begin(), properties->DetailedCaps().end())));
}

TEST_F(CameraPropertiesTest, DualStreamFrameRateCapabilities) {
  Start("KCM5311");  // in DUAL mode
  Answers(Info("XYZ-7",
               "MD_CAP = MD\r\nENCODER_CAP = H264,MPEG4,MJPEG\r\n"
               "VIDEO_RESOLUTION_CAP = N1280x720,N640x480\r\nVIDEO2_RESOLUTION_CAP = N640x480,N320x240\r\n"));
  Answer("FPS_CAP_QUERY_ALL=DUAL,H264,N1280x720,H264,N640x480", "FPS_CAP_QUERY_ALL='30,15;30'\r\n");
  Answer("FPS_CAP_QUERY_ALL=DUAL,H264,N640x480,H264,N640x480", "FPS_CAP_QUERY_ALL='30,25;30'\r\n");
  Answer("FPS_CAP_QUERY_ALL=DUAL,H264,N1280x720,H264,N320x240", "FPS_CAP_QUERY_ALL='30;20,10'\r\n");
  auto properties = Identify(1);
  EXPECT_EQ(properties->ChannelMode(), 1u);
  EXPECT_EQ(properties->StreamCount(), 2u);
  // MPEG-4 is not offered in dual mode.
  EXPECT_EQ(properties->Stream(0).codecs, (std::set<uint32_t>{kCodecH264, kCodecMjpeg}));
  EXPECT_EQ(properties->Stream(1).codecs, (std::set<uint32_t>{kCodecH264, kCodecMjpeg}));
  const std::string text = properties->StreamCapabilityText();
  EXPECT_EQ(text, "Recording=640x480:25,30;1280x720:15,30;.Live=320x240:10,20;640x480:30;.");
  const StreamKindSettings parsed = ParseStreamKindSettings(text);
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed.at(1).at(FrameSize(320, 240)), (std::set<uint32_t>{10, 20}));
  EXPECT_EQ(parsed, (StreamKindSettings(properties->DetailedCaps().begin(), properties->DetailedCaps().end())));
}

TEST_F(CameraPropertiesTest, UnknownStreamModeIsPutRight) {
  Answers(Info("XYZ-8", "MD_CAP = MD\r\n"));
  Answer("VIDEO_STREAM", "VIDEO_STREAM='WEIRD'\r\n");
  auto properties = Identify(1);
  EXPECT_EQ(properties->ChannelMode(), 0u);
  EXPECT_THAT(Requests("encoder?VIDEO_STREAM"), ElementsAre("encoder?VIDEO_STREAM", "encoder?VIDEO_STREAM=SINGLE"));
}

TEST_F(CameraPropertiesTest, PropertiesB2PtzAndDisk) {
  // Firmware with the older B2 switch and an ACTi PTZ head; the model has a card.
  Answers(Info("XYZ-9", "Unit Type = Quad Server\r\nChannels = 2\r\n"));
  Answer("RTP_B2", "ERROR: RTP_B2\r\n");
  Answer("B2_RTP_APPENDED", "B2_RTP_APPENDED='1'\r\n");
  Answer("B2_RTP_APPENDED=2", "OK: B2_RTP_APPENDED=2\r\n");
  Answer("PTZ_VENDOR", "PTZ_VENDOR='ACTI'\r\n");
  auto properties = Identify(1);
  EXPECT_EQ(properties->B2Key(), "B2_RTP_APPENDED");
  EXPECT_EQ(properties->B2DisableAccepted(), 1u);
  EXPECT_EQ(properties->PtzProtocol(), 1u);
  EXPECT_TRUE(properties->PtzSupported());
  EXPECT_TRUE(properties->EdgeStorage());
  // Two channels: the CGI commands address channel 1.
  EXPECT_THAT(Requests("system?CHANNEL=1&"),
              ElementsAre("system?CHANNEL=1&RTP_B2&RTSP_AUTHEN", "system?CHANNEL=1&B2_RTP_APPENDED&RTSP_AUTHEN",
                          "system?CHANNEL=1&B2_RTP_APPENDED=2&RTSP_AUTHEN=2"));

  CapabilityStoreRecorder store;
  properties->GetProperties(store);
  EXPECT_EQ(store.capabilities, (std::map<uint32_t, uint32_t>{{18, 1}, {19, 1}, {20, 1}}));
  ASSERT_EQ(store.items.size(), 16u);
  const std::vector<std::tuple<std::string, uint32_t, std::string>> expected = {
      {"Video standard", 0, "1"},
      {"Camera Brand", 1, "ACTi"},
      {"Fps in Percents", 0, "0"},
      {"Day Night", 0, "0"},
      {"Camera group", 0, "1"},
      {"PTZ Protocol", 0, "1"},
      {"Rtsp port string", 1, "(none)"},
      {"Firmware version", 1, "A1D-500-V4.12"},
      {"MAC address", 1, "00:0F:7C:01:02:03"},
      {"Disable B2 and Auth", 0, "1"},
      {"Disable B2 string", 1, "B2_RTP_APPENDED"},
      {"Device Type", 0, "1"},
      {"Channel Mode", 0, "0"},
      {"Mounting Type", 0, "0"},
      {"Stream capabilities", 1, properties->StreamCapabilityText()},
      {"Privacy mask count", 0, "1"},
  };
  for (uint32_t id = 1; id <= 16; ++id) {
    const RecordedItem& item = *store.items.at(id);
    EXPECT_EQ(item.name, std::get<0>(expected[id - 1]));
    EXPECT_EQ(item.type, std::get<1>(expected[id - 1])) << item.name;
    EXPECT_EQ(item.value, std::get<2>(expected[id - 1])) << item.name;
    EXPECT_EQ(item.flags, 0u);
  }
}

TEST_F(CameraPropertiesTest, StopEventSkipsTheRemainingSteps) {
  Answers(Info("XYZ-10"));
  CActiCameraProperties properties(driver_.info, 1);
  properties.StopEvent().Set();
  uint32_t status = 0;
  EXPECT_TRUE(properties.Query(status));
  EXPECT_THAT(Requests(), ElementsAre("system?SYSTEM_INFO"));
  EXPECT_EQ(properties.Model(), "XYZ-10");
}

TEST_F(CameraPropertiesTest, HemisphericCameraTakesTheConfiguredModeAndMounting) {
  const std::string path = ::testing::TempDir() + "strandline_camera_view.xml";
  {
    std::ofstream file(path);
    file << "<?xml version=\"1.0\"?>\n<Configuration><Default><StreamMode>MD_PRESET</StreamMode>"
            "<MountingType>CEILING</MountingType></Default></Configuration>\n";
  }
  Start("KCM3911");
  ASSERT_TRUE(camera_->SetSetting("FISHEYE_INSTALL", "WALL,3"));
  Answers(
      Info("KCM3911", "MD_CAP = Hemispheric,MD\r\nENCODER_CAP = H264,MJPEG\r\nVIDEO_RESOLUTION_CAP = N1280x720\r\n"),
      "VIDEO_RESOLUTION='N1280x720'\r\n");
  Answer("FPS_CAP_QUERY_ALL=MD_PRESET,H264,N1280x720", "FPS_CAP_QUERY_ALL='15,8-30'\r\n");
  CActiCameraProperties properties(driver_.info, 1);
  properties.SetConfigurationPath(path);
  uint32_t status = 0;
  ASSERT_TRUE(properties.Query(status));
  EXPECT_THAT(Requests("encoder?VIDEO_STREAM"), ElementsAre("encoder?VIDEO_STREAM", "encoder?VIDEO_STREAM=MD_PRESET"));
  EXPECT_THAT(Requests("encoder?FISHEYE_INSTALL"),
              ElementsAre("encoder?FISHEYE_INSTALL", "encoder?FISHEYE_INSTALL=CEILING,3"));
  EXPECT_EQ(properties.ChannelMode(), 3u);
  EXPECT_EQ(properties.MountingType(), 1u);
  EXPECT_EQ(properties.StreamCount(), 3u);
  EXPECT_EQ(properties.Stream(0).codecs, (std::set<uint32_t>{kCodecH264}));  // no MJPEG with motion presets
  EXPECT_EQ(properties.StreamCapabilityText(), "Recording=1280x720:8,15;.Live=1280x352:8,15;.Remote=1280x352:8,15;.");
  std::remove(path.c_str());
}

// GetFrameRates works on whatever the main stream holds; a derived class
// sets the sets directly for the cases identification cannot produce.
class FixedRates : public CBaseCameraProperties {
 public:
  FixedRates(std::set<uint32_t> rates, uint32_t defaultRate) : CBaseCameraProperties(DEVICE_INFO(), 1) {
    streamCaps_[0].frameRates = std::move(rates);
    streamCaps_[0].defaultFrameRate = defaultRate;
  }
  void GetProperties(ipcapture::ICapabilityStore&) override {}
  bool Query(uint32_t&) override { return true; }
};

TEST_F(CameraPropertiesTest, FrameRatesInTheHostEncoding) {
  std::set<uint32_t> oneToThirty;
  for (uint32_t r = 1; r <= 30; ++r) oneToThirty.insert(r);

  hostVersionKnown = true;
  hostVersion = {6, 4, 0, 0};
  RecordedFrameRates sink;
  ASSERT_TRUE(FixedRates(oneToThirty, 0).GetFrameRates(sink));
  ASSERT_EQ(sink.values.size(), 30u);
  EXPECT_EQ(sink.values[0], 1000u);
  EXPECT_EQ(sink.values[6], 143u);
  EXPECT_EQ(sink.values[29], 33u);
  EXPECT_THAT(sink.defaults, ElementsAre(67u));  // half of 30 -> 15 fps

  RecordedFrameRates high;
  ASSERT_TRUE(FixedRates({5, 15, 30, 50}, 40).GetFrameRates(high));
  EXPECT_THAT(high.values, ElementsAre(200u, 67u, 33u, 50u | 0x70000000u));
  EXPECT_THAT(high.defaults, ElementsAre(50u | 0x70000000u));

  // An older (or unknown) host gets intervals only.
  hostVersion = {6, 3, 9, 9};
  RecordedFrameRates older;
  ASSERT_TRUE(FixedRates({5, 15, 30, 50}, 0).GetFrameRates(older));
  EXPECT_THAT(older.values, ElementsAre(200u, 67u, 33u, 20u));
  EXPECT_THAT(older.defaults, ElementsAre(33u));  // 25 -> first rate not below it: 30
  hostVersionKnown = false;
  RecordedFrameRates unknown;
  EXPECT_TRUE(FixedRates({50}, 0).GetFrameRates(unknown));
  EXPECT_THAT(unknown.values, ElementsAre(20u));

  RecordedFrameRates none;
  EXPECT_FALSE(FixedRates({}, 0).GetFrameRates(none));
  EXPECT_THAT(none.values, IsEmpty());
  // Identification of a percent camera on a 6.4 host gives 1000 ... 33 as well.
  hostVersionKnown = true;
  hostVersion = {6, 4, 0, 0};
  Answers(Info("XYZ-11"), "VIDEO_RESOLUTION='N640x480'\r\nMEDIA1_FPS_RATIO='100'\r\n");
  RecordedFrameRates identified;
  ASSERT_TRUE(Identify(1)->GetFrameRates(identified));
  EXPECT_THAT(identified.values, ElementsAreArray(sink.values));
}

}  // namespace
}  // namespace orbisan::test
