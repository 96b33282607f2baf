// The CGI handler survives any query: random mixtures of real names, values
// and junk keep the answer grammar and leave the settings valid.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "sim/camera_clock.h"
#include "sim/camera_model.h"
#include "sim/cgi_handler.h"
#include "sim/cgi_query.h"
#include "sim/settings_table.h"

namespace {

using namespace strandline::sim;

// Pieces of the random queries: real names, and values both real and malformed.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

const std::vector<std::string> kNames = Split(
    "USER PWD CHANNEL SYSTEM_INFO CONFIG_GET VIDEO_ENCODER VIDEO_RESOLUTION VIDEO_FPS_NUM VIDEO_GOP VIDEO_MAX_BITRATE "
    "VIDEO_BITRATE VIDEO_MJPEG_QUALITY VIDEO_STREAM FISHEYE_INSTALL FPS_CAP_QUERY_ALL PRIVACY_REGION PRIVACY_REGION1 "
    "DATE_CONFIG SAVE_REBOOT RTP_B2 RTSP_AUTHEN V2_STREAMING_TYPE NIGHT_FPS_NUM PTZ_VENDOR DISK_STATE",
    ' ');
// The last value is the empty one.
const std::vector<std::string> kValues = Split(
    "admin|H264|MJPEG|N320x240|N1280x1024|P352x288|0|1|2|30|-1|99999999999|UNLIMITED|1.5M|DUAL|CEILING,0|"
    "SINGLE,H264,N640x480|DUAL,H264,N640x480,H264,N320x240|1,1,000000,1,2,3,4|1,120500002026,17:57:26,+00|%41|%|%zz|'|"
    "\r\n|",
    '|');

std::string RandomQuery(std::mt19937& random) {
  std::string query;
  int items = std::uniform_int_distribution<int>(0, 8)(random);
  for (int i = 0; i < items; ++i) {
    if (i > 0 || random() % 2) query += "&";
    switch (random() % 4) {
      case 0:  // junk bytes
        for (int n = std::uniform_int_distribution<int>(0, 12)(random); n > 0; --n) {
          query.push_back(static_cast<char>(random() % 256));
        }
        break;
      case 1:
        query += kNames[random() % std::size(kNames)];
        break;
      default:
        query += kNames[random() % std::size(kNames)];
        query += "=";
        query += kValues[random() % std::size(kValues)];
    }
  }
  return query;
}

TEST(CgiRobustnessTest, RandomQueriesKeepTheGrammarAndValidSettings) {
  std::mt19937 random(20261205);
  const char* const families[] = {"system", "encoder", "mpeg4", "update", "nosuch", ""};
  for (const auto& id : CameraModelIds()) {
    SCOPED_TRACE(id);
    const CameraModel* model = FindCameraModel(id);
    SettingsTable settings(*model);
    CameraClock clock;
    CgiHandler handler(settings, clock, "admin", "admin");
    handler.SetUnitAddress(
        {"02:00:00:00:00:01", std::vector<uint16_t>(static_cast<size_t>(model->channels), 7070), 80});
    for (int round = 0; round < 3000; ++round) {
      std::string family = families[random() % std::size(families)];
      std::string query = RandomQuery(random);
      if (random() % 2) query = "USER=admin&PWD=admin&" + query;
      CgiResponse response = handler.Handle(family, query, random() % 3 == 0);
      ASSERT_TRUE(response.status == 200 || response.status == 401 || response.status == 404) << query;
      if (response.status != 200) {
        EXPECT_TRUE(response.body.empty());
        continue;
      }
      ASSERT_FALSE(response.body.empty()) << query;
      ASSERT_EQ(response.body.substr(response.body.size() - 2), "\r\n") << query;
    }
    // Whatever was accepted, every channel still describes a stream the model can make.
    for (int channel = 1; channel <= settings.ChannelCount(); ++channel) {
      StreamSettings stream = settings.Stream(channel);
      EXPECT_TRUE(model->SupportsCodec(CodecName(stream.codec)));
      bool size_known = false;
      for (const auto& r : model->resolutions) size_known |= r.width == stream.width && r.height == stream.height;
      EXPECT_TRUE(size_known) << stream.Signature();
      EXPECT_GE(stream.fps, 1);
      EXPECT_GE(stream.gop, 1);
      EXPECT_GT(stream.kbps, 0);
    }
  }
}

TEST(CgiQueryTest, ItemsSplitAndDecode) {
  auto items = ParseCgiQuery("A&B=1&&C=x=y&%41%42=%2&D=&=v");
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].name, "A");
  EXPECT_FALSE(items[0].value);
  EXPECT_EQ(*items[1].value, "1");
  EXPECT_EQ(items[2].name, "C");
  EXPECT_EQ(*items[2].value, "x=y");
  EXPECT_EQ(items[3].name, "AB");
  EXPECT_EQ(*items[3].value, "%2") << "an incomplete escape stays as sent";
  EXPECT_EQ(*items[4].value, "");
  EXPECT_EQ(items[5].name, "");
  EXPECT_EQ(*items[5].value, "v");
}

TEST(CameraClockTest, DateConfigRoundTripsThroughTheZone) {
  long long utc = 0;
  int mode = 0;
  int zone = 0;
  ASSERT_TRUE(CameraClock::Parse("1,120500002026,17:57:26,+00", &utc, &mode, &zone));
  EXPECT_EQ(utc, 1796493446LL);  // 2026-12-05 17:57:26 UTC
  ASSERT_TRUE(CameraClock::Parse("0,022900002024,23:59:59,-05", &utc, &mode, &zone));
  EXPECT_EQ(utc, 1709251199LL + 5 * 3600);  // a leap day, five hours behind UTC
  EXPECT_EQ(zone, -5);
  EXPECT_FALSE(CameraClock::Parse("1,022900002023,00:00:00,+00", &utc, &mode, &zone)) << "2023 has no 29 February";
  CameraClock clock;
  ASSERT_TRUE(clock.Set("1,120500002026,17:57:26,+02"));
  // Read back in its own zone, a moment later.
  EXPECT_THAT(clock.Text(), ::testing::MatchesRegex("1,120500002026,17:5[7-9]:[0-9][0-9],\\+02"));
}

}  // namespace
