#include "device/configuration.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "device/configuration_text.h"
#include "support/test_driver.h"

namespace orbisan {
namespace {

namespace fs = std::filesystem;

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv(kConfigurationPathVariable);
    char pattern[] = "/tmp/strandline_config_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    driver_.hostDirectory = dir_ + "/";
    driver_.info.address = "10.0.0.5";
    driver_.info.port = 80;
    driver_.info.model = "ACTi TCM-5311";
  }
  void TearDown() override {
    unsetenv(kConfigurationPathVariable);
    fs::remove_all(dir_);
  }

  void WriteFile(const std::string& text, const std::string& name = "Strandline.xml") {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  // A file whose Device element (for 10.0.0.5:80) and Default element hold
  // the given children; StreamingMode holds streaming.
  void WriteSettings(const std::string& device, const std::string& defaults = "", const std::string& streaming = "") {
    WriteFile("<?xml version=\"1.0\"?>\n<Configuration>\n<StreamingMode>" + streaming + "</StreamingMode>\n<Default>" +
              defaults + "</Default>\n<Device address=\"10.0.0.5\" port=\"80\">" + device +
              "</Device>\n</Configuration>\n");
  }

  RtpSettings Rtp() { return CConfiguration(&driver_).GetRtpSettings(); }
  uint32_t Streaming() { return CConfiguration(&driver_).GetStreamingMode(); }

  std::string dir_;
  test::TestDriver driver_;
};

void ExpectDefaults(test::TestDriver& driver) {
  const ViewSettings view = GetViewSettings(&driver);
  EXPECT_EQ(view.streamMode, 0u);
  EXPECT_EQ(view.mountingType, 2u);
  EXPECT_EQ(GetFirstPTZChannelID(&driver), 1u);
  CConfiguration configuration(driver.GetDriverName(), driver.GetHostDirectory(), *driver.GetDeviceInfo());
  EXPECT_EQ(configuration.GetRtpSettings().rtpMode, 0u);
  EXPECT_EQ(configuration.GetRtpSettings().rtpPacketSize, 0u);
  EXPECT_EQ(configuration.GetStreamingMode(), 0u);
}

TEST_F(ConfigurationTest, MissingFileGivesDefaults) { ExpectDefaults(driver_); }

TEST_F(ConfigurationTest, DeviceElementReplacesDefaultForItsAddressAndPortOnly) {
  WriteSettings(
      "<RTPMode>RTPOVERRTSP</RTPMode><RTPPacketSize>1400</RTPPacketSize>",
      "<StreamMode>DUAL</StreamMode><MountingType>CEILING</MountingType><FirstPTZChannelID>4</FirstPTZChannelID>",
      "multicast");
  // The device's own element has no view settings, and Default is then not consulted.
  EXPECT_EQ(Rtp().rtpMode, 2u);
  EXPECT_EQ(Rtp().rtpPacketSize, 1400u);
  EXPECT_EQ(GetViewSettings(&driver_).streamMode, 0u);
  EXPECT_EQ(GetViewSettings(&driver_).mountingType, 2u);
  EXPECT_EQ(GetFirstPTZChannelID(&driver_), 1u);
  EXPECT_EQ(Streaming(), 2u);

  for (auto [address, port] : {std::pair<const char*, uint16_t>{"10.0.0.5", 8080}, {"10.0.0.6", 80}}) {
    SCOPED_TRACE(address + std::string(":") + std::to_string(port));
    driver_.info.address = address;
    driver_.info.port = port;
    EXPECT_EQ(Rtp().rtpMode, 0u);
    EXPECT_EQ(Rtp().rtpPacketSize, 0u);
    EXPECT_EQ(GetViewSettings(&driver_).streamMode, 1u);
    EXPECT_EQ(GetViewSettings(&driver_).mountingType, 1u);
    EXPECT_EQ(GetFirstPTZChannelID(&driver_), 4u);
    EXPECT_EQ(Streaming(), 2u);
  }
}

TEST_F(ConfigurationTest, RtpModeTextAndModelRule) {
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

TEST_F(ConfigurationTest, PacketSizeTakesLeadingDigitsAboveHundred) {
  const std::pair<const char*, uint32_t> cases[] = {{"100", 0},           {"101", 101},    {"1400", 1400},
                                                    {"1400 bytes", 1400}, {" 1400", 1400}, {"bytes 1400", 0},
                                                    {"-1400", 0},         {"", 0}};
  for (auto [text, expected] : cases) {
    WriteSettings(std::string("<RTPPacketSize>") + text + "</RTPPacketSize>");
    EXPECT_EQ(Rtp().rtpPacketSize, expected) << '"' << text << '"';
  }
}

TEST_F(ConfigurationTest, ReceiveBufferAndRebootHoldOff) {
  EXPECT_EQ(CConfiguration(&driver_).GetRebootHoldOffSeconds(), kMinRebootHoldOffSeconds);
  const std::tuple<const char*, const char*, uint32_t, uint32_t> cases[] = {
      {"8388608", "3600", 8388608, 3600}, {"65535", "599", 0, 600}, {"", "", 0, 600}, {"lots", "-5", 0, 600}};
  for (auto [buffer, holdOff, wantedBuffer, wantedHoldOff] : cases) {
    WriteSettings(std::string("<RTPReceiveBuffer>") + buffer + "</RTPReceiveBuffer><RebootHoldOffSeconds>" + holdOff +
                  "</RebootHoldOffSeconds>");
    EXPECT_EQ(Rtp().receiveBufferBytes, wantedBuffer) << buffer;
    EXPECT_EQ(CConfiguration(&driver_).GetRebootHoldOffSeconds(), wantedHoldOff) << holdOff;
  }
}

TEST_F(ConfigurationTest, StreamingModeTexts) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"Multicast", 2}, {"multicast primary", 1}, {"MULTICAST-PRIMARY", 1}, {"primary multicast", 2}, {"unicast", 0},
      {"", 0},          {"multi cast", 0}};
  for (auto [text, expected] : cases) {
    WriteSettings("", "", text);
    EXPECT_EQ(Streaming(), expected) << '"' << text << '"';
  }
  // Only the whole-file element counts, not one inside a device element.
  WriteSettings("<StreamingMode>multicast</StreamingMode>");
  EXPECT_EQ(Streaming(), 0u);
}

TEST_F(ConfigurationTest, ViewSettingTexts) {
  const std::pair<const char*, uint32_t> modes[] = {{"dual", 1},         {"EPTZ", 2}, {"md_preset", 3},
                                                    {"Fisheye_View", 4}, {"quad", 0}, {"", 0}};
  for (auto [text, expected] : modes) {
    WriteSettings(std::string("<StreamMode>") + text + "</StreamMode>");
    EXPECT_EQ(GetViewSettings(&driver_).streamMode, expected) << '"' << text << '"';
  }
  const std::pair<const char*, uint32_t> mountings[] = {
      {"ceiling", 1}, {" CEILING\n", 1}, {"wall", 2}, {"floor", 2}, {"", 2}};
  for (auto [text, expected] : mountings) {
    WriteSettings(std::string("<MountingType>") + text + "</MountingType>");
    EXPECT_EQ(GetViewSettings(&driver_).mountingType, expected) << '"' << text << '"';
  }
  WriteSettings("<StreamMode><![CDATA[DUAL]]></StreamMode><MountingType>CEIL<!-- x -->ING</MountingType>");
  EXPECT_EQ(GetViewSettings(&driver_).streamMode, 1u);
  EXPECT_EQ(GetViewSettings(&driver_).mountingType, 1u);
}

TEST_F(ConfigurationTest, FirstPtzChannelId) {
  const std::pair<const char*, uint32_t> cases[] = {{"3", 3},           {"0", 1},  {"7 heads", 7},
                                                    {"99999999999", 1}, {"-2", 1}, {"none", 1}};
  for (auto [text, expected] : cases) {
    WriteSettings(std::string("<FirstPTZChannelID>") + text + "</FirstPTZChannelID>");
    EXPECT_EQ(GetFirstPTZChannelID(&driver_), expected) << '"' << text << '"';
  }
}

TEST_F(ConfigurationTest, EveryQueryReadsTheFileAgainAndMalformedGivesDefaults) {
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
  ExpectDefaults(driver_);

  for (const char* bad : {"", "not xml at all", "<Configuration>", "<a></b>", "\xff\xfe\x00<"}) {
    WriteFile(bad);
    ExpectDefaults(driver_);
  }
  // Things that are not a settings file: too big, a directory, a pipe (which
  // must not block the reader).
  const std::string valid =
      "<Configuration><StreamingMode>multicast</StreamingMode><Default><StreamMode>DUAL</StreamMode>"
      "<FirstPTZChannelID>2</FirstPTZChannelID></Default></Configuration>";
  WriteFile(valid);
  EXPECT_EQ(configuration.GetStreamingMode(), 2u);
  WriteFile(valid + std::string(16 * 1024 * 1024, ' '));
  ExpectDefaults(driver_);
  const std::string file = dir_ + "/Strandline.xml";
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  ExpectDefaults(driver_);
  std::filesystem::remove(file);
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  ExpectDefaults(driver_);
}

TEST_F(ConfigurationTest, AddressIsMatchedAsTextNeverAsExpression) {
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
}

TEST_F(ConfigurationTest, FileLocation) {
  EXPECT_EQ(ConfigurationFilePath("Strandline", "/opt/host/"), "/opt/host/Strandline.xml");
  EXPECT_EQ(ConfigurationFilePath("Strandline", "/opt/host"), "/opt/host/Strandline.xml");
  EXPECT_EQ(ConfigurationFilePath("Strandline", ""), "Strandline.xml");
  EXPECT_EQ(ConfigurationFilePath("", "/opt/host/"), "");

  // The override names any file, and an empty override is no override.
  WriteFile("<Configuration><StreamingMode>multicast primary</StreamingMode></Configuration>", "other.xml");
  EXPECT_EQ(Streaming(), 0u);
  setenv(kConfigurationPathVariable, (dir_ + "/other.xml").c_str(), 1);
  EXPECT_EQ(ConfigurationFilePath("", ""), dir_ + "/other.xml");
  EXPECT_EQ(Streaming(), 1u);
  setenv(kConfigurationPathVariable, "", 1);
  EXPECT_EQ(ConfigurationFilePath("Strandline", "/opt/host/"), "/opt/host/Strandline.xml");
}

}  // namespace
}  // namespace orbisan
