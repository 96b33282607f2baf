// The simulated camera's query parsing and clock text (random queries are
// the CGI handler fuzzer's, in sim/fuzz).
#include "sim/cgi_query.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/camera_clock.h"

namespace {

using namespace strandline::sim;

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
