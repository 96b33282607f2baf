#include "device/configuration.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_driver.h"

namespace orbisan {
namespace {

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv(kConfigurationPathVariable);
    driver_.hostDirectory = dir_.Path();
    driver_.info.address = "10.0.0.5";
    driver_.info.port = 80;
    driver_.info.model = "ACTi TCM-5311";
  }
  void TearDown() override { unsetenv(kConfigurationPathVariable); }

  void WriteFile(const std::string& text, const std::string& name = "Strandline.xml") { dir_.Write(name, text); }
  // A file whose Device element (for 10.0.0.5:80) and Default element hold
  // the given children; StreamingMode holds streaming.
  void WriteSettings(const std::string& device, const std::string& defaults = "", const std::string& streaming = "") {
    WriteFile("<?xml version=\"1.0\"?>\n<Configuration>\n<StreamingMode>" + streaming + "</StreamingMode>\n<Default>" +
              defaults + "</Default>\n<Device address=\"10.0.0.5\" port=\"80\">" + device +
              "</Device>\n</Configuration>\n");
  }

  RtpSettings Rtp() { return CConfiguration(&driver_).GetRtpSettings(); }
  uint32_t Streaming() { return CConfiguration(&driver_).GetStreamingMode(); }
  // RTP mode and packet size, stream mode, mounting, first PTZ channel, streaming mode.
  std::vector<uint32_t> All() {
    const ViewSettings view = GetViewSettings(&driver_);
    return {Rtp().rtpMode, Rtp().rtpPacketSize, view.streamMode, view.mountingType, GetFirstPTZChannelID(&driver_),
            Streaming()};
  }
  void ExpectDefaults() {
    EXPECT_EQ(All(), (std::vector<uint32_t>{0, 0, 0, 2, 1, 0}));
    // The same through the constructor that takes the driver's texts.
    const CConfiguration named(driver_.GetDriverName(), driver_.GetHostDirectory(), *driver_.GetDeviceInfo());
    EXPECT_EQ(
        std::tuple(named.GetRtpSettings().rtpMode, named.GetRtpSettings().rtpPacketSize, named.GetStreamingMode()),
        std::tuple(0u, 0u, 0u));
  }

  test::ScratchDir dir_;
  test::TestDriver driver_;
};

TEST_F(ConfigurationTest, DeviceElementReplacesDefaultForItsAddressAndPortOnly) {
  WriteSettings(
      "<RTPMode>RTPOVERRTSP</RTPMode><RTPPacketSize>1400</RTPPacketSize>",
      "<StreamMode>DUAL</StreamMode><MountingType>CEILING</MountingType><FirstPTZChannelID>4</FirstPTZChannelID>",
      "multicast");
  // The device's own element has no view settings, and Default is then not consulted.
  EXPECT_EQ(All(), (std::vector<uint32_t>{2, 1400, 0, 2, 1, 2}));

  for (auto [address, port] : {std::pair<const char*, uint16_t>{"10.0.0.5", 8080}, {"10.0.0.6", 80}}) {
    SCOPED_TRACE(address + std::string(":") + std::to_string(port));
    driver_.info.address = address;
    driver_.info.port = port;
    EXPECT_EQ(All(), (std::vector<uint32_t>{0, 0, 1, 1, 4, 2}));
  }
}

// Each setting from its text: leading digits, bounds, names in any case.
TEST_F(ConfigurationTest, SettingTextsRtpModeTextAndModelRule) {
  const std::map<std::string, std::function<uint32_t()>> readers = {
      {"RTPPacketSize", [&] { return Rtp().rtpPacketSize; }},
      {"RTPReceiveBuffer", [&] { return Rtp().receiveBufferBytes; }},
      {"RebootHoldOffSeconds", [&] { return CConfiguration(&driver_).GetRebootHoldOffSeconds(); }},
      {"StreamingMode", [&] { return Streaming(); }},
      {"StreamMode", [&] { return GetViewSettings(&driver_).streamMode; }},
      {"MountingType", [&] { return GetViewSettings(&driver_).mountingType; }},
      {"FirstPTZChannelID", [&] { return GetFirstPTZChannelID(&driver_); }},
  };
  EXPECT_EQ(readers.at("RebootHoldOffSeconds")(), kMinRebootHoldOffSeconds);
  const std::pair<std::string, std::vector<std::pair<const char*, uint32_t>>> cases[] = {
      {"RTPPacketSize",
       {{"100", 0},
        {"101", 101},
        {"1400", 1400},
        {"1400 bytes", 1400},
        {" 1400", 1400},
        {"bytes 1400", 0},
        {"-1400", 0},
        {"", 0}}},
      {"RTPReceiveBuffer", {{"8388608", 8388608}, {"65535", 0}, {"", 0}, {"lots", 0}}},
      {"RebootHoldOffSeconds", {{"3600", 3600}, {"599", 600}, {"", 600}, {"-5", 600}}},
      {"StreamingMode",
       {{"Multicast", 2},
        {"multicast primary", 1},
        {"MULTICAST-PRIMARY", 1},
        {"primary multicast", 2},
        {"unicast", 0},
        {"", 0},
        {"multi cast", 0}}},
      {"StreamMode", {{"dual", 1}, {"EPTZ", 2}, {"md_preset", 3}, {"Fisheye_View", 4}, {"quad", 0}, {"", 0}}},
      {"MountingType", {{"ceiling", 1}, {" CEILING\n", 1}, {"wall", 2}, {"floor", 2}, {"", 2}}},
      {"FirstPTZChannelID", {{"3", 3}, {"0", 1}, {"7 heads", 7}, {"99999999999", 1}, {"-2", 1}, {"none", 1}}}};
  for (const auto& [element, texts] : cases) {
    for (const auto& [text, expected] : texts) {
      const std::string xml = "<" + element + ">" + text + "</" + element + ">";
      // The streaming mode is a setting of the whole file, the rest belong to a device.
      if (element == "StreamingMode") {
        WriteSettings("", "", text);
      } else {
        WriteSettings(xml);
      }
      EXPECT_EQ(readers.at(element)(), expected) << xml;
    }
  }
  // A streaming mode inside a device element does not count.
  WriteSettings("<StreamingMode>multicast</StreamingMode>");
  EXPECT_EQ(Streaming(), 0u);
  WriteSettings("<StreamMode><![CDATA[DUAL]]></StreamMode><MountingType>CEIL<!-- x -->ING</MountingType>");
  EXPECT_EQ(GetViewSettings(&driver_).streamMode, 1u);
  EXPECT_EQ(GetViewSettings(&driver_).mountingType, 1u);

  WriteSettings("<RTPMode>use rtpOverRtsp please</RTPMode>");
  EXPECT_EQ(Rtp().rtpMode, 2u);
  for (const char* model : {"ACTI KCM-3311", "acti kcm-5111", "ACTi ACM-4200", "Vido AMU-100"}) {
    driver_.info.model = model;
    EXPECT_EQ(Rtp().rtpMode, 0u) << model;
  }
  driver_.info.model = "ACTi KCM";  // the rule matches the text, not a whole word
  EXPECT_EQ(Rtp().rtpMode, 0u);
  driver_.info.model = "ACTi TCM-KCM";
  EXPECT_EQ(Rtp().rtpMode, 2u);

  WriteSettings("<RTPMode>RTP over RTSP</RTPMode>");
  EXPECT_EQ(Rtp().rtpMode, 0u);
}

TEST_F(ConfigurationTest, EveryQueryReadsTheFileAgainAndMissingOrMalformedGivesDefaults) {
  ExpectDefaults();
  CConfiguration configuration(&driver_);
  WriteSettings(
      "<RTPMode>RTPOVERRTSP</RTPMode><RTPPacketSize>1400</RTPPacketSize>"
      "<StreamMode>DUAL</StreamMode><MountingType>CEILING</MountingType>"
      "<FirstPTZChannelID>2</FirstPTZChannelID>",
      "", "multicast");
  EXPECT_EQ(configuration.GetRtpSettings().rtpPacketSize, 1400u);
  EXPECT_EQ(configuration.GetStreamingMode(), 2u);
  EXPECT_EQ(GetFirstPTZChannelID(&driver_), 2u);

  // Same settings, but the document is cut short: nothing of it may be used.
  WriteFile(
      "<Configuration><StreamingMode>multicast</StreamingMode><Device address=\"10.0.0.5\" port=\"80\">"
      "<RTPMode>RTPOVERRTSP</RTPMode><StreamMode>DUAL</StreamMode><MountingType>CEILING</MountingType>"
      "<FirstPTZChannelID>2</FirstPTZChannelID></Device>");
  EXPECT_EQ(configuration.GetRtpSettings().rtpMode, 0u);
  ExpectDefaults();

  for (const char* bad : {"", "not xml at all", "<Configuration>", "<a></b>", "\xff\xfe\x00<"}) {
    WriteFile(bad);
    ExpectDefaults();
  }
  // Things that are not a settings file: too big, a directory, a pipe (which
  // must not block the reader).
  const std::string valid =
      "<Configuration><StreamingMode>multicast</StreamingMode><Default><StreamMode>DUAL</StreamMode>"
      "<FirstPTZChannelID>2</FirstPTZChannelID></Default></Configuration>";
  WriteFile(valid);
  EXPECT_EQ(configuration.GetStreamingMode(), 2u);
  WriteFile(valid + std::string(16 * 1024 * 1024, ' '));
  ExpectDefaults();
  const std::string file = dir_.File("Strandline.xml");
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  ExpectDefaults();
  std::filesystem::remove(file);
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  ExpectDefaults();
}

TEST_F(ConfigurationTest, AddressIsMatchedAsTextNeverAsExpressionAndTheFileLocation) {
  WriteFile(
      "<Configuration><Default><StreamMode>EPTZ</StreamMode></Default>"
      "<Device address='cam\"1&apos;' port='80'><StreamMode>DUAL</StreamMode></Device>"
      "<Device address='x' port='81'><StreamMode>MD_PRESET</StreamMode></Device></Configuration>");
  driver_.info.address = "cam\"1'";
  EXPECT_EQ(GetViewSettings(&driver_).streamMode, 1u);
  // An address shaped to widen the match must not pick another device's element.
  driver_.info.address = "y\"] | /Configuration/Device[@address=\"x";
  driver_.info.port = 81;
  EXPECT_EQ(GetViewSettings(&driver_).streamMode, 2u);

  EXPECT_EQ(ConfigurationFilePath("Strandline", "/opt/host/"), "/opt/host/Strandline.xml");
  EXPECT_EQ(ConfigurationFilePath("Strandline", "/opt/host"), "/opt/host/Strandline.xml");
  EXPECT_EQ(ConfigurationFilePath("Strandline", ""), "Strandline.xml");
  EXPECT_EQ(ConfigurationFilePath("", "/opt/host/"), "");

  // The override names any file, and an empty override is no override.
  WriteFile("<Configuration><StreamingMode>multicast primary</StreamingMode></Configuration>", "other.xml");
  EXPECT_EQ(Streaming(), 0u);
  setenv(kConfigurationPathVariable, dir_.File("other.xml").c_str(), 1);
  EXPECT_EQ(ConfigurationFilePath("", ""), dir_.File("other.xml"));
  EXPECT_EQ(Streaming(), 1u);
  setenv(kConfigurationPathVariable, "", 1);
  EXPECT_EQ(ConfigurationFilePath("Strandline", "/opt/host/"), "/opt/host/Strandline.xml");
}

}  // namespace
}  // namespace orbisan
