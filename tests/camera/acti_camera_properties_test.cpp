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

  // Stopped: the stop event is set before the query begins.
  std::unique_ptr<CActiCameraProperties> Identify(uint32_t flag = 1, bool expectSuccess = true, bool stopped = false,
                                                  const std::string& viewPath = "") {
    auto properties = std::make_unique<CActiCameraProperties>(driver_.info, flag);
    if (!viewPath.empty()) properties->SetConfigurationPath(viewPath);
    if (stopped) properties->StopEvent().Set();
    uint32_t status = 0;
    EXPECT_EQ(properties->Query(status), expectSuccess);
    EXPECT_TRUE(expectSuccess || status == 3u) << status;
    return properties;
  }
};

std::string Join(const std::vector<std::string>& parts, const char* separator = ",") {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
  return out;
}
std::string Join(const std::set<uint32_t>& values) {
  std::vector<std::string> parts;
  for (uint32_t v : values) parts.push_back(std::to_string(v));
  return Join(parts);
}

// What identification found, by the short names the cases use; codecs are
// 1 MJPEG, 2 MPEG-4, 3 H.264, sizes carry their highest rate.
std::map<std::string, std::string> Fields(const CActiCameraProperties& p) {
  auto n = [](uint32_t v) { return std::to_string(v); };
  std::vector<std::string> sizes;
  for (const StreamResolution& r : p.Stream(0).resolutions) {
    sizes.push_back(n(r.width) + "x" + n(r.height) + "@" + n(r.maxFrameRate));
  }
  const std::string text =
      "brand=" + p.Brand() + " model=" + p.Model() + " fw=" + p.Firmware() + " mac=" + p.Mac() +
      " group=" + n(p.CameraGroup()) + " type=" + n(p.DeviceType()) + " channels=" + n(p.Channels()) +
      " in=" + n(p.DigitalInputs()) + " out=" + n(p.DigitalOutputs()) + " audio=" + n(p.AudioIn().count) + "/" +
      n(p.AudioOut().count) + " ptz=" + n(p.PtzSupported()) + " motion=" + n(p.MotionSupported()) +
      " d1=" + n(p.D1Allowed()) + " ntsc=" + n(p.Ntsc()) + " daynight=" + n(p.DayNight()) +
      " masks=" + n(p.PrivacyMaskCount()) + "/" + n(p.PrivacySupported()) + " rtsp=" + p.RtspPorts() +
      " percent=" + n(p.FpsInPercents()) + " mode=" + n(p.ChannelMode()) + " mount=" + n(p.MountingType()) +
      " streams=" + n(p.StreamCount()) + " codecs=" + Join(p.Stream(0).codecs) +
      " codecs1=" + Join(p.Stream(1).codecs) + " rates=" + Join(p.Stream(0).frameRates) +
      " nrates=" + n(static_cast<uint32_t>(p.Stream(0).frameRates.size())) + " sizes=" + Join(sizes) +
      " caps=" + p.StreamCapabilityText();
  std::map<std::string, std::string> fields;
  for (const std::string& field : Split(text, " "))
    fields[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
  return fields;
}

// One identification: the camera answers SYSTEM_INFO with `info`, CONFIG_GET
// with `config` (N640x480 when empty) and the items as given. `expected`
// lists "name=value" fields, "req=PREFIX>A|B" the requests that start with
// PREFIX, and how the case is set up: "+pal" (the PAL codes are taken),
// "+flag0", "+fails" (identification fails), "+stopped", "+model=NAME",
// "+set=NAME=VALUE" (a camera setting).
struct Identification {
  std::string info, config, expected;
  std::vector<std::pair<std::string, std::string>> answers = {};
};

const std::string kPalCodes =
    "mpeg4?>mpeg4?VIDEO_RESOLUTION=P176x144|mpeg4?VIDEO_RESOLUTION=P352x288|"
    "mpeg4?VIDEO_RESOLUTION=P640x480|mpeg4?VIDEO_RESOLUTION=P720x576";
const std::string kPercentConfig =
    "VIDEO_RESOLUTION='P640x480'\r\nMEDIA_TV='NTSC'\r\nMEDIA_DAYNIGHT_MODE='AUTO'\r\n"
    "PRIVACY_REGION1='1,0'\r\nPRIVACY_REGION2='1,0'\r\nPRIVACY_REGION4='1,0'\r\n"
    "PORT_RTSP='7070'\r\nV2_PORT_RTSP='7070'\r\n01_V2_PORT_RTSP='7071'\r\n02_V2_PORT_RTSP='7072'\r\n"
    "04_V2_PORT_RTSP='7074'\r\nMEDIA1_FPS_RATIO='100'\r\n";
const std::string kDualCaps =
    "VIDEO_RESOLUTION_CAP = N1280x720,N640x480\r\nVIDEO2_RESOLUTION_CAP = N640x480,N320x240\r\n";

TEST_F(CameraPropertiesTest, Identifications) {
  // Where a hemispheric camera's configured view is read.
  const std::string view = ::testing::TempDir() + "strandline_camera_view.xml";
  std::ofstream(view) << "<?xml version=\"1.0\"?>\n<Configuration><Default><StreamMode>MD_PRESET</StreamMode>"
                         "<MountingType>CEILING</MountingType></Default></Configuration>\n";
  const Identification cases[] = {
      // The model table.
      {Info("AMU1100"), "", "brand=VIDO group=1 in=0 out=0 ptz=1 codecs= d1=1 fw=A1D-500-V4.12 mac=00:0F:7C:01:02:03"},
      {Info("TMU2000"), "", "brand=Messoa group=1 in=0 out=0 ptz=1 codecs= d1=1 model=TMU2000"},
      {Info("CAM6200"), "", "brand=ACTi group=0 in=2 out=1 ptz=1 codecs=2 d1=1"},
      {Info("CAM5150"), "", "brand=ACTi group=0 in=1 out=1 ptz=0 codecs=2 d1=1"},
      {Info("ACM8201"), "", "brand=ACTi group=1 in=1 out=1 ptz=1 codecs= d1=1"},
      {Info("ACM7411"), "", "brand=ACTi group=1 in=1 out=1 ptz=0 codecs= d1=1"},
      {Info("ACM1011"), "", "brand=ACTi group=1 in=0 out=0 ptz=0 codecs= d1=0"},
      {Info("ACD2100"), "", "brand=ACTi group=1 in=2 out=2 ptz=1 codecs=1,2 d1=1"},
      {Info("TCM4101"), "", "brand=ACTi group=1 in=0 out=0 ptz=0 codecs= d1=0"},
      {Info("SED2120"), "", "brand=ACTi group=3 in=2 out=2 ptz=1 codecs=2 d1=1"},
      {Info("KCM5311"), "", "brand=ACTi group=1 in=0 out=0 ptz=0 codecs= d1=1"},
      // CAM6510 on PAL: the static table less one rate; the camera's resolution is never touched.
      {Info("CAM6510"), "VIDEO_RESOLUTION='P720x576'\r\n",
       "ntsc=0 group=0 rates=2,3,4,5,6,8,12,25 req=mpeg4?VIDEO_RESOLUTION=> "
       "caps=Recording=176x144:2,3,4,5,6,8,12,25;352x288:2,3,4,5,6,8,12,25;720x576:2,3,4,5,6,8,12,25;."},
      // SYSTEM_INFO keys: DI replaces the model's count, DO = 0 leaves it; a
      // quad server keeps its own counts and probing picks its highest known rate.
      {Info("ACD2200",
            "DI = 4\r\nDO = 0\r\nUnit Type = Quad Server\r\nChannels = 4\r\nAudio = 2\r\n"
            "ENCODER_CAP = MPEG4,MJPEG\r\nSensor Board = unknown\r\n"),
       "VIDEO_RESOLUTION='N352x240'\r\n",
       "type=1 channels=4 in=4 out=0 audio=1/1 motion=0 sizes=640x480@30,1280x720@8,1280x1024@8"},
      // "Channels" counts only on a quad server.
      {Info("XYZ-1", "Audio = 1\r\nENCODER_CAP = H264,MJPEG\r\nSensor Board = IT1\r\nChannels = 4\r\n"), "",
       "group=2 codecs=1,3 type=2 channels=1 audio=1/0"},
      {Info("XYZ-2", "Sensor Board = MT9P031\r\n"), "", "type=3"},
      // No production id (an empty answer has none): failed after the one request.
      {Info("", "DI = 1\r\nENCODER_CAP = H264\r\nMD_CAP = MD\r\n"), "", "+fails req=>system?SYSTEM_INFO"},
      // The configuration dump: the later key decides the standard; privacy
      // regions count while consecutive; percent rates on NTSC are 1 to 30.
      {Info("XYZ-3", "ENCODER_CAP = H264\r\n"), kPercentConfig,
       "+pal +flag0 ntsc=1 daynight=1 masks=2/1 rtsp=7070,7071,7072, channels=2 percent=1 nrates=30"},
      {Info("XYZ-3", "ENCODER_CAP = H264\r\n"), "VIDEO_TV='PAL'\r\nMEDIA1_FPS_RATIO='100'\r\nMEDIA1_FPS_NUM='25'\r\n",
       "+pal ntsc=0 percent=0 masks=0/0"},
      {Info("XYZ-4"), "RESOLUTION_1='P720x576'\r\nMEDIA1_H264_QUALITY='HIGH'\r\nVIDEO_MJPEG_QUALITY='50'\r\n",
       "+pal ntsc=0 group=2 codecs=1,3"},
      {Info("XYZ-4"), "", "masks=1/1"},  // a video server without PTZ has one mask
      // Probing lists the accepted codes; on NTSC the model's own sizes that
      // have a code, megapixel sizes at 8 fps; nothing accepted fails.
      {Info("XYZ-5"), "VIDEO_RESOLUTION='P352x288'\r\n",
       "+pal sizes=176x144@25,352x288@25,640x480@25,720x576@25 req=" + kPalCodes},
      {Info("XYZ-5"), "", "+pal sizes=640x480@30,1280x720@8,1280x1024@8 rates=1,2,3,4,5,6,7,8,10,15,30"},
      {Info("XYZ-5"), "VIDEO_RESOLUTION='P352x288'\r\n", "+fails"},
      // Frame-rate capabilities; a stream mode already right is not sent.
      {Info("XYZ-6", "MD_CAP = MD\r\nENCODER_CAP = H264\r\nVIDEO_RESOLUTION_CAP = N640x480,N1280x720,bogus\r\n"),
       "",
       "motion=1 mode=0 streams=1 req=encoder?VIDEO_STREAM>encoder?VIDEO_STREAM sizes=640x480@30,1280x720@10 "
       "caps=Recording=640x480:5,15,30;1280x720:5,10;.",
       {{"FPS_CAP_QUERY_ALL=SINGLE,H264,N640x480", "FPS_CAP_QUERY_ALL='30,15,0,x,5-30,15'\r\n"},
        {"FPS_CAP_QUERY_ALL=SINGLE,H264,N1280x720", "FPS_CAP_QUERY_ALL='10,5'\r\n"}}},
      // A camera in DUAL mode; MPEG-4 is not offered then.
      {Info("XYZ-7", "MD_CAP = MD\r\nENCODER_CAP = H264,MPEG4,MJPEG\r\n" + kDualCaps),
       "",
       "+model=KCM5311 mode=1 streams=2 codecs=1,3 codecs1=1,3 "
       "caps=Recording=640x480:25,30;1280x720:15,30;.Live=320x240:10,20;640x480:30;.",
       {{"FPS_CAP_QUERY_ALL=DUAL,H264,N1280x720,H264,N640x480", "FPS_CAP_QUERY_ALL='30,15;30'\r\n"},
        {"FPS_CAP_QUERY_ALL=DUAL,H264,N640x480,H264,N640x480", "FPS_CAP_QUERY_ALL='30,25;30'\r\n"},
        {"FPS_CAP_QUERY_ALL=DUAL,H264,N1280x720,H264,N320x240", "FPS_CAP_QUERY_ALL='30;20,10'\r\n"}}},
      // An unknown stream mode is put right.
      {Info("XYZ-8", "MD_CAP = MD\r\n"),
       "",
       "mode=0 req=encoder?VIDEO_STREAM>encoder?VIDEO_STREAM|encoder?VIDEO_STREAM=SINGLE",
       {{"VIDEO_STREAM", "VIDEO_STREAM='WEIRD'\r\n"}}},
      // A stop skips the remaining steps.
      {Info("XYZ-10"), "", "+stopped model=XYZ-10 req=>system?SYSTEM_INFO"},
      // A hemispheric camera takes the configured mode and mounting; no MJPEG with motion presets.
      {Info("KCM3911", "MD_CAP = Hemispheric,MD\r\nENCODER_CAP = H264,MJPEG\r\nVIDEO_RESOLUTION_CAP = N1280x720\r\n"),
       "VIDEO_RESOLUTION='N1280x720'\r\n",
       "+model=KCM3911 +set=FISHEYE_INSTALL=WALL,3 mode=3 mount=1 streams=3 codecs=3 "
       "req=encoder?VIDEO_STREAM>encoder?VIDEO_STREAM|encoder?VIDEO_STREAM=MD_PRESET "
       "req=encoder?FISHEYE_INSTALL>encoder?FISHEYE_INSTALL|encoder?FISHEYE_INSTALL=CEILING,3 "
       "caps=Recording=1280x720:8,15;.Live=1280x352:8,15;.Remote=1280x352:8,15;.",
       {{"FPS_CAP_QUERY_ALL=MD_PRESET,H264,N1280x720", "FPS_CAP_QUERY_ALL='15,8-30'\r\n"}}},
  };
  for (const Identification& c : cases) {
    SCOPED_TRACE(c.info + c.expected);
    std::vector<std::string> checks, setup;
    for (const std::string& token : Split(c.expected, " ")) (token[0] == '+' ? setup : checks).push_back(token);
    auto has = [&](const std::string& option) { return std::count(setup.begin(), setup.end(), option) > 0; };
    std::string model = "TCM5311";
    for (const std::string& option : setup) {
      if (option.rfind("+model=", 0) == 0) model = option.substr(7);
    }
    Start(model);
    for (const std::string& option : setup) {
      const size_t eq = option.find('=', 5);
      EXPECT_TRUE(option.rfind("+set=", 0) != 0 ||
                  camera_->SetSetting(option.substr(5, eq - 5), option.substr(eq + 1)));
    }
    TakePalCodes(has("+pal"));
    Answers(c.info, c.config.empty() ? "VIDEO_RESOLUTION='N640x480'\r\n" : c.config);
    for (const auto& [item, text] : c.answers) Answer(item, text);
    auto properties = Identify(has("+flag0") ? 0 : 1, !has("+fails"), has("+stopped"), view);
    const auto fields = Fields(*properties);
    for (const std::string& check : checks) {
      const size_t eq = check.find('=');
      const std::string name = check.substr(0, eq), value = check.substr(eq + 1);
      if (name == "req") {
        const size_t gt = value.find('>');
        EXPECT_EQ(Join(Requests(value.substr(0, gt)), "|"), value.substr(gt + 1));
      } else {
        ASSERT_TRUE(fields.count(name)) << name;
        EXPECT_EQ(fields.at(name), value) << name;
      }
    }
    // The capability text reads back exactly as written.
    const auto& detailed = properties->DetailedCaps();
    if (!detailed.empty()) {
      EXPECT_EQ(ParseStreamKindSettings(properties->StreamCapabilityText()),
                StreamKindSettings(detailed.begin(), detailed.end()));
    }
  }
  std::remove(view.c_str());
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

TEST_F(CameraPropertiesTest, PropertiesB2PtzDiskAndFrameRatesInTheHostEncoding) {
  // Firmware with the older B2 switch and an ACTi PTZ head; the model has a card.
  Answers(Info("XYZ-9", "Unit Type = Quad Server\r\nChannels = 2\r\n"));
  Answer("RTP_B2", "ERROR: RTP_B2\r\n");
  Answer("B2_RTP_APPENDED", "B2_RTP_APPENDED='1'\r\n");
  Answer("B2_RTP_APPENDED=2", "OK: B2_RTP_APPENDED=2\r\n");
  Answer("PTZ_VENDOR", "PTZ_VENDOR='ACTI'\r\n");
  auto properties = Identify(1);
  EXPECT_TRUE(properties->PtzSupported());
  EXPECT_TRUE(properties->EdgeStorage());
  // Two channels: the CGI commands address channel 1.
  EXPECT_THAT(Requests("system?CHANNEL=1&"),
              ElementsAre("system?CHANNEL=1&RTP_B2&RTSP_AUTHEN", "system?CHANNEL=1&B2_RTP_APPENDED&RTSP_AUTHEN",
                          "system?CHANNEL=1&B2_RTP_APPENDED=2&RTSP_AUTHEN=2"));

  CapabilityStoreRecorder store;
  properties->GetProperties(store);
  EXPECT_EQ(store.capabilities, (std::map<uint32_t, uint32_t>{{18, 1}, {19, 1}, {20, 1}}));
  // Items 1 to 16 as "name:type:value", none with flags.
  std::vector<std::string> items;
  for (const auto& [id, item] : store.items) {
    items.push_back(std::to_string(id) + " " + item->name + ":" + std::to_string(item->type) + ":" + item->value);
    EXPECT_EQ(item->flags, 0u) << item->name;
  }
  EXPECT_EQ(items, (std::vector<std::string>{
                       "1 Video standard:0:1", "2 Camera Brand:1:ACTi", "3 Fps in Percents:0:0", "4 Day Night:0:0",
                       "5 Camera group:0:1", "6 PTZ Protocol:0:1", "7 Rtsp port string:1:(none)",
                       "8 Firmware version:1:A1D-500-V4.12", "9 MAC address:1:00:0F:7C:01:02:03",
                       "10 Disable B2 and Auth:0:1", "11 Disable B2 string:1:B2_RTP_APPENDED", "12 Device Type:0:1",
                       "13 Channel Mode:0:0", "14 Mounting Type:0:0",
                       "15 Stream capabilities:1:" + properties->StreamCapabilityText(), "16 Privacy mask count:0:1"}));

  std::set<uint32_t> oneToThirty;
  for (uint32_t r = 1; r <= 30; ++r) oneToThirty.insert(r);

  // What GetFrameRates hands the host, and whether it succeeds.
  const auto rates = [](std::set<uint32_t> set, uint32_t defaultRate, bool ok = true) {
    RecordedFrameRates sink;
    EXPECT_EQ(FixedRates(std::move(set), defaultRate).GetFrameRates(sink), ok);
    return sink;
  };
  hostVersionKnown = true;
  hostVersion = {6, 4, 0, 0};
  const RecordedFrameRates sink = rates(oneToThirty, 0);
  ASSERT_EQ(sink.values.size(), 30u);
  EXPECT_EQ(std::tuple(sink.values[0], sink.values[6], sink.values[29]), std::tuple(1000u, 143u, 33u));
  EXPECT_THAT(sink.defaults, ElementsAre(67u));  // half of 30 -> 15 fps

  const RecordedFrameRates high = rates({5, 15, 30, 50}, 40);
  EXPECT_THAT(high.values, ElementsAre(200u, 67u, 33u, 50u | 0x70000000u));
  EXPECT_THAT(high.defaults, ElementsAre(50u | 0x70000000u));

  // An older (or unknown) host gets intervals only.
  hostVersion = {6, 3, 9, 9};
  const RecordedFrameRates older = rates({5, 15, 30, 50}, 0);
  EXPECT_THAT(older.values, ElementsAre(200u, 67u, 33u, 20u));
  EXPECT_THAT(older.defaults, ElementsAre(33u));  // 25 -> first rate not below it: 30
  hostVersionKnown = false;
  EXPECT_THAT(rates({50}, 0).values, ElementsAre(20u));
  EXPECT_THAT(rates({}, 0, false).values, IsEmpty());
  // Identification of a percent camera on a 6.4 host gives 1000 ... 33 as well.
  hostVersionKnown = true;
  hostVersion = {6, 4, 0, 0};
  Answers(Info("XYZ-11"), "VIDEO_RESOLUTION='N640x480'\r\nMEDIA1_FPS_RATIO='100'\r\n");
  RecordedFrameRates identified;
  ASSERT_TRUE(Identify(1)->GetFrameRates(identified));
  EXPECT_EQ(identified.values, sink.values);
}

}  // namespace
}  // namespace orbisan::test
