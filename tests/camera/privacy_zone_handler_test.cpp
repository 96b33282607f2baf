#include "camera/privacy_zone_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

#include "camera/scripted_http_server.h"
#include "camera/sim_camera_test.h"

namespace orbisan::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

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
  ipcapture::IPrivacyZone* GetZone(uint32_t index) override { return index < zones.size() ? &zones[index] : nullptr; }
  std::vector<HostZone> zones;
};

class PrivacyZoneTest : public SimCameraTest {
 protected:
  void SetUp() override { Start("TCM5311"); }  // four privacy regions
};

TEST_F(PrivacyZoneTest, ZonesAreWrittenInPixelsOfTheRequestedFrame) {
  driver_.parameters[16] = "3";
  CPrivacyZoneHandler handler(&driver_, 0);
  HostZoneList list;
  list.zones = {
      {true, 10, 20, 50, 25}, {false, 5, 5, 5, 5}, {true, 50, 50, 100, 100}};  // the last one is cut at the edge
  handler.SetZones(&list);
  handler.ApplyZones(Request(640, 480));
  EXPECT_THAT(Requests(), ElementsAre("encoder?PRIVACY_REGION=1,1,000000,64,96,384,216",
                                      "encoder?PRIVACY_REGION=2,0,000000,1,1,20,20",
                                      "encoder?PRIVACY_REGION=3,1,000000,320,240,640,480"));
  // Written again, as they stand, on every stream start.
  camera_->ClearCgiRequests();
  handler.ApplyZones(Request(352, 240));
  EXPECT_EQ(Requests().front(), "encoder?PRIVACY_REGION=1,1,000000,35,48,211,108");
  EXPECT_TRUE(driver_.Lines().empty());
}

TEST_F(PrivacyZoneTest, FewerHostZonesLeaveTheOtherRecordsAsTheyWere) {
  driver_.parameters[16] = "3";
  CPrivacyZoneHandler handler(&driver_, 0);
  HostZoneList all;
  all.zones = {{true, 10, 10, 10, 10}, {true, 20, 20, 10, 10}, {true, 30, 30, 10, 10}};
  handler.SetZones(&all);
  HostZoneList one;
  one.zones = {{false, 0, 0, 0, 0}};
  handler.SetZones(&one);
  ASSERT_EQ(handler.Zones().size(), 3u);
  EXPECT_FALSE(handler.Zones()[0].enabled);
  EXPECT_TRUE(handler.Zones()[1].enabled);
  EXPECT_EQ(handler.Zones()[2].left, 30);
  handler.ApplyZones(Request(100, 100));
  EXPECT_THAT(Requests(), ElementsAre("encoder?PRIVACY_REGION=1,0,000000,1,1,20,20",
                                      "encoder?PRIVACY_REGION=2,1,000000,20,20,30,30",
                                      "encoder?PRIVACY_REGION=3,1,000000,30,30,40,40"));
  // More host zones than the device has are ignored.
  HostZoneList many;
  many.zones.assign(6, HostZone(true, 1, 1, 1, 1));
  handler.SetZones(&many);
  EXPECT_EQ(handler.Zones().size(), 3u);
}

TEST_F(PrivacyZoneTest, NothingIsSentWithoutZonesOrWithoutHostRecords) {
  // No zone count: never a PRIVACY_REGION command.
  CPrivacyZoneHandler noZones(&driver_, 0);
  HostZoneList list;
  list.zones = {{true, 10, 20, 50, 25}};
  noZones.SetZones(&list);
  noZones.ApplyZones(Request(640, 480));
  // A live or remote channel never gets the host's zones: it leaves the
  // device's masks alone.
  driver_.parameters[16] = "2";
  CPrivacyZoneHandler live(&driver_, 1);
  live.ApplyZones(Request(640, 480));
  EXPECT_FALSE(live.FilledFromHost());
  EXPECT_THAT(Requests(), IsEmpty());
  // A recording channel given an empty list writes its (disabled) zones.
  CPrivacyZoneHandler recording(&driver_, 0);
  HostZoneList empty;
  recording.SetZones(&empty);
  recording.ApplyZones(Request(640, 480));
  EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(PrivacyZoneTest, BrokenHostValuesStayInsideThePicture) {
  driver_.parameters[16] = "1";
  CPrivacyZoneHandler handler(&driver_, 0);
  HostZoneList list;
  list.zones = {{true, -20, std::numeric_limits<double>::quiet_NaN(), 500, 1e300}};
  handler.SetZones(&list);
  handler.ApplyZones(Request(640, 480));
  EXPECT_THAT(Requests(), ElementsAre("encoder?PRIVACY_REGION=1,1,000000,0,0,640,480"));
}

TEST_F(PrivacyZoneTest, RequestFailureStopsAndErrorAnswersGoOn) {
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
  CPrivacyZoneHandler handler(&driver_, 0);
  HostZoneList empty;
  handler.SetZones(&empty);
  handler.ApplyZones(Request(640, 480));
  EXPECT_EQ(calls, 3);  // zone 4 is not sent after the failed request
  const std::string device = "127.0.0.1:" + std::to_string(server.Port());
  const auto lines = driver_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Error setting privacy zone 1 info, device: " + device + " ");
  EXPECT_EQ(lines[1].text, "Can't set privacy zone 3 info, device: " + device + " ");
  for (const LogLine& line : lines) EXPECT_EQ(line.level, 1u);
}

}  // namespace
}  // namespace orbisan::test
