// The CGI side of the simulated camera, through a real HTTP client (libcurl),
// and its query parsing and clock text (random queries are the CGI handler
// fuzzer's, in sim/fuzz).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <set>
#include <utility>
#include <vector>

#include "sim/camera_clock.h"
#include "sim/camera_model.h"
#include "sim/cgi_query.h"
#include "sim/simulated_camera.h"
#include "sim_test_support.h"

namespace {

using simtest::Cgi;
using simtest::HttpAuthKind;
using simtest::HttpGet;
using simtest::Lines;
using simtest::OptionsFor;
using ::strandline::sim::CameraClock;
using ::strandline::sim::HttpAuth;
using ::strandline::sim::ParseCgiQuery;
using ::strandline::sim::SimulatedCamera;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class CgiFamilyTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CgiFamilyTest, AnswersInTheFamilyGrammar) {
  SimulatedCamera camera(OptionsFor(GetParam()));
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;
  const auto& model = camera.Model();

  // SYSTEM_INFO: "Name = value" lines, the Production ID among them.
  auto info = HttpGet(Cgi(camera, "system", "&SYSTEM_INFO"));
  ASSERT_EQ(info.status, 200);
  EXPECT_THAT(Lines(info.body), Contains("Production ID = " + model.production_id));
  for (const auto& line : Lines(info.body))
    EXPECT_TRUE(std::regex_match(line, std::regex("[A-Za-z0-9_ ]+ = .*"))) << line;
  EXPECT_EQ(info.body.find('\n') - 1, info.body.find("\r\n")) << "lines end with CR LF";

  // Refused and unknown items answer ERROR lines without touching the rest.
  const std::string smallest = model.ResolutionCode(model.resolutions.front());
  ASSERT_TRUE(camera.SetSetting("VIDEO_RESOLUTION", smallest));
  auto mixed = HttpGet(Cgi(camera, "encoder", "&VIDEO_RESOLUTION=N9999x9999&VIDEO_NO_SUCH&VIDEO_FPS_NUM=10"));
  EXPECT_THAT(Lines(mixed.body), ElementsAre(HasSubstr("ERROR"), HasSubstr("ERROR"), "OK: VIDEO_FPS_NUM=10"));
  EXPECT_EQ(camera.GetSetting("VIDEO_RESOLUTION"), smallest);
  EXPECT_THAT(HttpGet(Cgi(camera, "encoder", "&VIDEO_ENCODER=THEORA")).body, HasSubstr("ERROR"));
  // A name asked of a family that does not serve it is refused too.
  EXPECT_THAT(HttpGet(Cgi(camera, "update", "&VIDEO_RESOLUTION")).body, HasSubstr("ERROR"));

  // The B2 switch exists under the model's own name only.
  std::string other_b2 = model.b2_key == "RTP_B2" ? "B2_RTP_APPENDED" : "RTP_B2";
  EXPECT_THAT(Lines(HttpGet(Cgi(camera, "system", "&" + model.b2_key + "&RTSP_AUTHEN")).body),
              ElementsAre(model.b2_key + "='1'", "RTSP_AUTHEN='1'"));
  EXPECT_THAT(HttpGet(Cgi(camera, "system", "&" + other_b2)).body, HasSubstr("ERROR"));
  std::string two = "&" + model.b2_key + "=2&RTSP_AUTHEN=2";
  EXPECT_EQ(HttpGet(Cgi(camera, "system", two)).body.find("ERROR") == std::string::npos, model.b2_max >= 2);

  // PTZ_VENDOR and head commands only on units with PTZ.
  auto ptz = HttpGet(Cgi(camera, "encoder", "&PTZ_VENDOR&MOVE=LEFT,3&PTZ_PRESET_SET=1,1")).body;
  if (model.ptz_vendor.empty()) {
    EXPECT_THAT(Lines(ptz), ElementsAre(HasSubstr("ERROR"), "ERROR: MOVE=LEFT,3", "ERROR: PTZ_PRESET_SET=1,1"));
  } else {
    EXPECT_THAT(Lines(ptz),
                ElementsAre("PTZ_VENDOR='" + model.ptz_vendor + "'", "OK: MOVE=LEFT,3", "OK: PTZ_PRESET_SET=1,1"));
  }
  EXPECT_EQ(camera.Ptz().moving, !model.ptz_vendor.empty());
  EXPECT_EQ(camera.Ptz().presets.size(), model.ptz_vendor.empty() ? 0u : 1u);

  // The configuration dump is NAME='value' lines and names the real RTSP port.
  auto dump = HttpGet(Cgi(camera, "update", "&CONFIG_GET"));
  ASSERT_EQ(dump.status, 200);
  for (const auto& line : Lines(dump.body))
    EXPECT_TRUE(std::regex_match(line, std::regex("[A-Z0-9_]+='[^']*'"))) << line;
  EXPECT_THAT(Lines(dump.body), Contains("PORT_RTSP='" + std::to_string(camera.RtspPort()) + "'"));

  // The answers that tell the families apart, for a model of each.
  struct Family {
    bool encoder_cap;    // ENCODER_CAP line present
    bool h264_dump;      // CONFIG_GET uses the MEDIA1_* names
    int numbered_ports;  // NN_V2_PORT_RTSP entries, one port each
    int privacy_zones;
  };
  static const std::map<std::string, Family> families = {
      {"TCM5311", {true, true, 0, 4}}, {"ACM8201", {false, false, 0, 0}}, {"ACD2400", {false, false, 4, 0}}};
  if (const auto family = families.find(GetParam()); family != families.end()) {
    const Family& f = family->second;
    EXPECT_EQ(info.body.find("ENCODER_CAP = ") != std::string::npos, f.encoder_cap);
    EXPECT_EQ(dump.body.find("MEDIA1_H264_QUALITY=") != std::string::npos, f.h264_dump);
    std::set<std::string> ports;
    for (int n = 1; n <= 9; ++n) {
      std::string key = "0" + std::to_string(n) + "_V2_PORT_RTSP='";
      size_t at = dump.body.find(key);
      if (at == std::string::npos) break;
      ports.insert(dump.body.substr(at + key.size(), dump.body.find('\'', at + key.size()) - at - key.size()));
    }
    EXPECT_EQ(ports.size(), static_cast<size_t>(f.numbered_ports));
    EXPECT_TRUE(f.numbered_ports == 0 || ports.count(std::to_string(camera.RtspPort(f.numbered_ports))));
    int zones = 0;
    while (dump.body.find("PRIVACY_REGION" + std::to_string(zones + 1) + "=") != std::string::npos) ++zones;
    EXPECT_EQ(zones, f.privacy_zones);
  }

  // Wrong or missing logins are refused before anything is looked at.
  EXPECT_EQ(HttpGet(Cgi(camera, "system", "&SYSTEM_INFO", "admin", "wrong")).status, 401);
  EXPECT_EQ(HttpGet(Cgi(camera, "system", "&SYSTEM_INFO", "root", "admin")).status, 401);
  EXPECT_EQ(HttpGet(camera.HttpUrl() + "/cgi-bin/system?SYSTEM_INFO").status, 401);
  EXPECT_EQ(HttpGet(Cgi(camera, "nosuch", "&SYSTEM_INFO")).status, 404);

  if (GetParam() == std::string("KCM5311")) {
    // A channel selector holds for the rest of the request, and only in range.
    ASSERT_TRUE(camera.SetSetting("VIDEO_ENCODER", "MJPEG", 2));
    EXPECT_THAT(Lines(HttpGet(Cgi(camera, "encoder", "&VIDEO_ENCODER&CHANNEL=2&VIDEO_ENCODER")).body),
                ElementsAre("VIDEO_ENCODER='H264'", "VIDEO_ENCODER='MJPEG'"));
    EXPECT_THAT(Lines(HttpGet(Cgi(camera, "encoder", "&VIDEO_ENCODER")).body), ElementsAre("VIDEO_ENCODER='H264'"));
    // A selector alone asks nothing, and the answer says so.
    EXPECT_THAT(Lines(HttpGet(Cgi(camera, "encoder", "&CHANNEL=2")).body), ElementsAre(HasSubstr("ERROR")));
    // Out of range: the selector and everything after it are refused.
    EXPECT_THAT(Lines(HttpGet(Cgi(camera, "encoder", "&CHANNEL=4&VIDEO_ENCODER")).body),
                ElementsAre(HasSubstr("ERROR"), HasSubstr("ERROR")));
    // System items per stream too (the streaming step of a second stream).
    EXPECT_THAT(Lines(HttpGet(Cgi(camera, "system", "&CHANNEL=3&V2_STREAMING_METHOD=4")).body),
                ElementsAre("OK: V2_STREAMING_METHOD=4"));
    EXPECT_EQ(camera.GetSetting("V2_STREAMING_METHOD", 1), "3");
  }
  if (GetParam() == std::string("TCM5311")) {
    // Malformed privacy zones (index, enabled, colour, then the rectangle
    // x1,y1,x2,y2), dates and frame rate queries are refused.
    EXPECT_THAT(Lines(HttpGet(Cgi(camera, "encoder", "&PRIVACY_REGION=1,1,000000,64,96,384,216")).body),
                ElementsAre("OK: PRIVACY_REGION=1,1,000000,64,96,384,216"));
    EXPECT_THAT(Lines(HttpGet(Cgi(camera, "update", "&CONFIG_GET")).body),
                Contains("PRIVACY_REGION1='1,1,000000,64,96,384,216'"));
    const std::pair<const char*, const char*> refused[] = {
        {"encoder", "&PRIVACY_REGION=5,1,000000,1,1,20,20"},
        {"encoder", "&PRIVACY_REGION=1,2,000000,1,1,20,20"},
        {"encoder", "&PRIVACY_REGION=1,1,00000G,1,1,20,20"},
        {"encoder", "&PRIVACY_REGION=1,1,000000,30,1,20,20"},
        {"encoder", "&PRIVACY_REGION=1,1,000000,1,1,20"},
        {"encoder", "&PRIVACY_REGION=0,0,000000,1,1,20,20"},
        // Date: month, day, "0000", year; time; zone.
        {"system", "&DATE_CONFIG=1,130500002026,17:57:26,+00"},
        {"system", "&DATE_CONFIG=1,023000002026,17:57:26,+00"},
        {"system", "&DATE_CONFIG=1,120512342026,17:57:26,+00"},
        {"system", "&DATE_CONFIG=1,120500002026,24:00:00,+00"},
        {"system", "&DATE_CONFIG=1,120500002026,17:57:26"},
        {"system", "&DATE_CONFIG=x"},
        {"encoder", "&FPS_CAP_QUERY_ALL=SINGLE,H264,N1920x1080"},
        // A single-stream unit has no DUAL mode.
        {"encoder", "&FPS_CAP_QUERY_ALL=DUAL,H264,N640x480,H264,N320x240"},
    };
    for (const auto& [family, items] : refused) {
      EXPECT_THAT(HttpGet(Cgi(camera, family, items)).body, HasSubstr("ERROR")) << items;
    }
    EXPECT_EQ(camera.GetSetting("PRIVACY_REGION1"), "1,1,000000,64,96,384,216");
  }
  if (GetParam() == std::string("ACD2400")) {
    // The video server's serial ports: checked Pelco-D bytes reach the dome
    // of the selected channel only; anything else is answered ERROR.
    const std::pair<std::string, bool> cases[] = {
        {"encoder?USER=admin&PWD=admin&CHANNEL=2&SERIAL_HEX=FF010004200025", true},    // left at 32
        {"mpeg4?USER=admin&PWD=admin&CHANNEL=3&SERIAL_HEX=ff010003000509", true},      // save preset 5
        {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FF010002200024", false},   // checksum off by one
        {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FF0100022000230", false},  // 15 digits
        {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FE010002200023", false},   // no sync byte
        {"encoder?USER=admin&PWD=admin&CHANNEL=4&SERIAL_HEX=FF010006200027", false},   // left and right
        {"encoder?USER=admin&PWD=admin&CHANNEL=5&SERIAL_HEX=FF010004200025", false},   // no such port
    };
    for (const auto& [query, accepted] : cases) {
      const std::string body = HttpGet(camera.HttpUrl() + "/cgi-bin/" + query).body;
      EXPECT_EQ(body.rfind(accepted ? "OK: SERIAL_HEX=" : "ERROR", 0), 0u) << query << " -> " << body;
    }
    EXPECT_EQ(camera.SerialDome(2).pan_direction * camera.SerialDome(2).pan_speed, -32);
    EXPECT_EQ(camera.SerialDome(3).presets.count(5), 1u);
    EXPECT_TRUE(camera.SerialDome(1).received.empty());
    EXPECT_TRUE(camera.SerialDome(4).received.empty()) << "refused messages reach no dome";
  }
}

INSTANTIATE_TEST_SUITE_P(Models, CgiFamilyTest,
                         ::testing::Values("TCM5311", "KCM5311", "KCM3911", "ACM8201", "CAM6510", "ACD2400",
                                           "SED2300"));

TEST(CgiAuthTest, HttpAuthenticationModes) {
  struct Case {
    HttpAuth mode;
    bool basic_ok;
    bool digest_ok;
    const char* challenge;
  };
  const Case cases[] = {{HttpAuth::kBasic, true, false, "Basic realm="},
                        {HttpAuth::kDigest, false, true, "Digest realm="},
                        {HttpAuth::kEither, true, true, "Digest realm="},
                        // libcurl answers the SHA-256 challenge with CURLAUTH_DIGEST alone.
                        {HttpAuth::kDigestSha256, false, true, "Digest realm="}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    auto options = OptionsFor("TCM5311");
    options.http_auth = c.mode;
    SimulatedCamera camera(options);
    ASSERT_TRUE(camera.Start());
    std::string url = Cgi(camera, "system", "&SYSTEM_INFO");
    auto anonymous = HttpGet(url);
    EXPECT_EQ(anonymous.status, 401);
    EXPECT_THAT(anonymous.headers, HasSubstr(std::string("WWW-Authenticate: ") + c.challenge));
    if (c.mode == HttpAuth::kEither) {
      EXPECT_THAT(anonymous.headers, HasSubstr("WWW-Authenticate: Basic realm="));
    }
    auto basic = HttpGet(url, HttpAuthKind::kBasic, "admin", "admin");
    EXPECT_EQ(basic.status, c.basic_ok ? 200 : 401);
    auto digest = HttpGet(url, HttpAuthKind::kDigest, "admin", "admin");
    EXPECT_EQ(digest.status, c.digest_ok ? 200 : 401);
    if (c.digest_ok) {
      EXPECT_THAT(digest.body, HasSubstr("Production ID = TCM5311"));
    }
    auto kind = c.basic_ok ? HttpAuthKind::kBasic : HttpAuthKind::kDigest;
    EXPECT_EQ(HttpGet(url, kind, "admin", "nope").status, 401);
    // With the header accepted the query login may be left out, but a wrong one still fails.
    EXPECT_EQ(HttpGet(camera.HttpUrl() + "/cgi-bin/system?SYSTEM_INFO", kind, "admin", "admin").status, 200);
    EXPECT_EQ(HttpGet(Cgi(camera, "system", "&SYSTEM_INFO", "admin", "bad"), kind, "admin", "admin").status, 401);
  }
}

TEST(CgiAuthTest, HttpsWithASelfSignedCertificate) {
  auto options = OptionsFor("ACM8201");
  options.https = true;
  SimulatedCamera camera(options);
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;
  EXPECT_THAT(camera.HttpUrl(), StartsWith("https://127.0.0.1:"));
  auto answer = HttpGet(Cgi(camera, "system", "&SYSTEM_INFO"));
  EXPECT_EQ(answer.status, 200);
  EXPECT_THAT(answer.body, HasSubstr("Production ID = ACM8201"));
  // Plain HTTP on the same port gets no answer.
  EXPECT_EQ(HttpGet(Cgi(camera, "system", "&SYSTEM_INFO").replace(0, 5, "http")).status, 0);
}

TEST(CgiQueryTest, ItemsSplitAndDecode) {
  std::vector<std::pair<std::string, std::optional<std::string>>> items;
  for (const auto& item : ParseCgiQuery("A&B=1&&C=x=y&%41%42=%2&D=&=v")) items.emplace_back(item.name, item.value);
  // An incomplete escape stays as sent.
  EXPECT_EQ(items,
            (decltype(items){{"A", std::nullopt}, {"B", "1"}, {"C", "x=y"}, {"AB", "%2"}, {"D", ""}, {"", "v"}}));
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
